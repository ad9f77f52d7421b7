// SPDX-License-Identifier: MIT
// The panel window: the whole user interface and the owner of the panel
// state, the members bound to its controls.
#ifndef PANEL_CEVAL_DLG_H
#define PANEL_CEVAL_DLG_H

#include <QDialog>
#include <QHash>
#include <QIcon>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QAction;
class QComboBox;
class QLineEdit;
class QMenu;
class QSlider;

namespace vtx {
struct AdapterListing;
}
namespace exporter {
enum class Format;
class Recorder;
} // namespace exporter
class QTimer;

class CEvalDlg : public QDialog {
    Q_OBJECT

public:
    explicit CEvalDlg(QWidget *parent = nullptr);
    ~CEvalDlg() override;

    // Creates the window from its template and runs its initialisation,
    // still hidden. DoModal does this, shows the window and runs it.
    void Create();
    int DoModal();

    QWidget *GetDlgItem(int id) const { return m_controls.value(id); }
    QMenu *GetSystemMenu() const { return m_systemMenu; }
    // Opens the system menu (the panel's context menu) at a global position.
    void ShowSystemMenu(const QPoint &globalPos);

    // Copy every bound control into its field, and back.
    void Pull();
    void Push();

    // Events the window routes to actions.
    enum class Event { Click, SelChange, CustomDraw, SysCommand, Paint, QueryDragIcon };
    struct EventArgs {
        int id;     // control ID; 0 for window events
        int param;  // the command of a system command
        int result; // what a notification answers
    };
    using Handler = void (CEvalDlg::*)(EventArgs &);
    struct Route {
        Event event;
        int id;
        Handler handler;
    };
    static const Route kRoutes[];
    static const std::size_t kRouteCount;

    // Runs the action routed for (event, id), as an event of its own; returns
    // its answer.
    int Dispatch(Event event, int id, int param = 0);

    // Actions.
    bool InitPanel();
    void ReadbackAll();
    void OnBitToggle(EventArgs &args);
    void OnBoostList(EventArgs &args);
    void OnRampList(EventArgs &args);
    void OnSliderDraw(EventArgs &args);
    void OnSleepButton(EventArgs &args);
    void OnSwReset(EventArgs &args);
    void OnManualWrite(EventArgs &args);
    void OnManualRead(EventArgs &args);
    void OnReadbackAll(EventArgs &args);
    void OnSysCommand(EventArgs &args);
    // Takes the text typed into a list's field when the list loses the
    // focus: a choice it names is chosen (and written), any other text is
    // put back to the current choice with "Invalid choice".
    void CommitListText(int id);
    // The context menu's Save Registers... and Load Registers...: a file
    // dialog, then SaveRegisters or LoadRegisters.
    void OnSaveRegisters();
    void OnLoadRegisters();
    // The context menu's Diagnose Adapter...: the adapter chain checked as
    // `xq4620 doctor` checks it, the report in a dialog.
    void OnDiagnoseAdapter();
    // The context menu's Choose Adapter...: the bridges plugged in, and on
    // OK the chosen one opened, set up and read back; Cancel changes
    // nothing. Reconnect Adapter: the same adapter as before opened, set up
    // and read back, after it was pulled out and plugged back.
    void OnChooseAdapter();
    void OnReconnectAdapter();
    // The context menu's Board Supply: switches the board's supply off, or
    // on and reads the chip back; no control writes. ShowSupplyState: the
    // entry checked while the supply is on, disabled with the reason as its
    // tooltip when there is nothing to switch (no supply line described).
    void OnBoardSupply();
    void ShowSupplyState();
    // The context menu's Export Registers..., Record... and Stop Recording:
    // a file dialog whose file type is the form, then ExportRegisters or
    // StartRecording; StopRecording.
    void OnExportRegisters();
    void OnRecord();
    void OnStopRecording();
    void OnPaint(EventArgs &args);
    void OnQueryDragIcon(EventArgs &args);

    // Controls used directly, not through the bound fields.
    QComboBox *m_cbFmode = nullptr;
    QComboBox *m_cbOcp = nullptr;
    QComboBox *m_cbOvp = nullptr;
    QComboBox *m_cbRampOff = nullptr;
    QComboBox *m_cbRampStop = nullptr;
    QComboBox *m_cbRampOn = nullptr;
    QComboBox *m_cbRampStart = nullptr;
    QSlider *m_slBrightA = nullptr;
    QSlider *m_slBrightB = nullptr;
    QSlider *m_slCurrentA = nullptr;
    QSlider *m_slCurrentB = nullptr;

    // Panel state: fields bound to controls by Pull and Push.
    QString m_strRegAddr;
    QString m_strData;
    QString m_strReg00;
    QString m_strReg01;
    QString m_strReg02;
    QString m_strReg03;
    QString m_strReg04;
    QString m_strReg06;
    QString m_strReg07;
    QString m_strReg05;
    int m_bFeedbackB = 1;
    int m_bFeedbackA = 1;
    int m_bPwmActiveLow = 0;
    int m_bPwmB = 0;
    int m_bPwmA = 0;
    int m_bSleep = 1;
    int m_bLinearA = 0;
    int m_bLinearB = 0;
    int m_bLedAEn = 0;
    int m_bLedBEn = 0;
    int m_bLed2OnA = 0;
    int m_bSlowStart = 0;
    int m_bFlagOcp = 0;
    int m_bFlagOvp = 0;
    int m_bFlagTsd = 0;
    QString m_strReg09;
    QString m_strReg0A;
    QString m_strReg0B;
    QString m_strReg12;
    QString m_strReg08;

    QIcon m_hIcon;

    // The field showing register `reg` as two hex digits; null for a
    // register without one.
    QString *RegisterText(uint8_t reg);
    void SetDlgItemText(int id, const QString &text);
    QString GetDlgItemText(int id) const;

    // The status line. SetStatus shows a text that claims nothing went
    // wrong ("Ready", "Readback Complete", "Reset"); it never replaces an
    // error. ShowError shows one ("Write Error", "Read Error", "Invalid
    // Data", ...), which then stays until a device access succeeds. Once
    // the adapter failed to set up, "USB Initialization Error" outranks
    // everything for the whole run.
    void SetStatus(const QString &text);
    void ShowError(const QString &text);
    // After each device access: a failure shows `errorText`; a success
    // after an error shows "Ready".
    void NoteAccess(bool failed, const QString &errorText);
    // The adapter failed to open or set up: from now on the status line says
    // "USB Initialization Error", and its tooltip why.
    void NoteLinkFailure();
    // Opens and sets up the adapter (LinkOpen) and shows what became of it:
    // the version line, its tooltip naming the adapter, and the status line.
    // Whatever an earlier open or access left on the status line goes.
    void OpenAdapter();
    // Asks which of `bridges` the board is on; on OK the library looks at
    // the chosen one from now on (vtxSelectAdapter). False on Cancel.
    bool ChooseAdapter(const std::vector<vtx::AdapterListing> &bridges);
    // Cancel at start-up: no adapter, as when none is found.
    void NoAdapterChosen(const std::vector<vtx::AdapterListing> &bridges);
    // Why the last device access failed, for the status line's tooltip.
    QString AccessFailureReason() const;

    // Writes the low byte of `value` to `reg`. On failure the register's
    // text (where it has one) shows "--" and the status "Write Error".
    // True on failure.
    bool WriteRegister(uint8_t reg, int32_t value);

    // The shadows of 0x00-0x08 as a register file at `path`; false with the
    // system's reason in `error`.
    bool SaveRegisters(const QString &path, QString *error);
    // What Load did with a register file.
    struct LoadResult {
        QStringList problems;           // "line N: reason" for each refusal; nothing was written
        std::vector<uint8_t> loaded;    // registers the chip took, in address order
        std::vector<uint8_t> notLoaded; // registers whose write failed
    };
    // Checks the register file at `path` whole; a refused file writes
    // nothing and the status says "Invalid File". Otherwise writes each
    // register once, in address order, and moves a register's shadow,
    // controls, text and slider memory to the file only when the chip took
    // it; then reads everything back. The status says "Write Error" when
    // any write failed.
    LoadResult LoadRegisters(const QString &path);
    // What Save writes (the shadows, what the panel last set), in `format`.
    bool ExportRegisters(const QString &path, exporter::Format format, QString *error);
    // From here on every register access the panel makes goes into the
    // script at `path` (a new file, or a recording of the same form to
    // append to), with its pauses, until StopRecording or the panel ends.
    // While it runs the window title says so.
    bool StartRecording(const QString &path, exporter::Format format, QString *error);
    bool StopRecording(QString *error);
    bool IsRecording() const { return m_recorder != nullptr; }
    // Appends what was recorded since the last time; on failure the
    // recording ends and says why.
    void FlushRecording();
    // Why the controls cannot show `value` in set-up register `reg`, or
    // nothing when they can.
    std::optional<QString> Unshowable(uint8_t reg, uint8_t value) const;

    // Every list, slider and box at its start-up position, as InitPanel
    // sets them; lists and sliders from code, boxes through the fields.
    void SetStartPositions();
    void SetStartBoxes();

    // Ends the modal run; from here on nothing typed is taken.
    void done(int result) override;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    struct Binding {
        int id;
        QString CEvalDlg::*text;
        int CEvalDlg::*check;
    };
    static const Binding kBindings[];
    struct BoundText {
        QLineEdit *edit;
        QString CEvalDlg::*field;
    };
    struct BoundCheck {
        QCheckBox *box;
        int CEvalDlg::*field;
    };

    void InitDialogBase();
    void WireEvents();
    void WireListTexts();

    QHash<int, QWidget *> m_controls;
    std::vector<BoundText> m_boundTexts;
    std::vector<BoundCheck> m_boundChecks;
    QMenu *m_systemMenu = nullptr;
    bool m_created = false;
    bool m_linkFailed = false;
    bool m_ending = false;
    QString m_errorText; // the error the status line holds, until an access succeeds
    // Why, in the adapter library's words: the status line's tooltip.
    QString m_errorReason;
    int32_t m_linkResult = 0;
    QString m_linkReason;
    std::string m_adapterName;  // the bridge chosen in the chooser, "" when none was
    bool m_nameRefused = false; // the library refused that name
    void ShowAdapterTip(bool open);
    void ShowStatusReason();
    int m_actionDepth = 0;
    int m_currentDrawId = 0;
    std::unique_ptr<exporter::Recorder> m_recorder;
    QTimer *m_recordFlush = nullptr;
    QString m_titleBeforeRecording;
    QAction *m_recordAction = nullptr;
    QAction *m_stopRecordingAction = nullptr;
    QAction *m_supplyAction = nullptr;
    void ShowRecordingState();
};

// The choice of `list` that `text` names, case and spaces aside; -1 for none.
int ChoiceNamedBy(const QComboBox *list, const QString &text);

// "0x00 to 0x02 hold the file's values; 0x03 to 0x08 do not": what a Load
// that failed part-way left, in the command's words.
QString PartialLoadText(const std::vector<uint8_t> &loaded, const std::vector<uint8_t> &notLoaded);

#endif
