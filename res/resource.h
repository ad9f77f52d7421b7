// SPDX-License-Identifier: MIT
// Resource identifiers: dialog templates, strings, icons, the logo bitmap,
// the system-menu command of the About entry, and every control ID.
#ifndef RES_RESOURCE_H
#define RES_RESOURCE_H

#define IDOK 1
#define IDCANCEL 2

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_MAIN 102
#define IDR_MAINFRAME 128
#define IDI_ABOUT 132
#define IDB_LOGO 133

// System-menu command of the About entry: low four bits clear, below the
// window system's own commands.
#define IDM_ABOUTBOX 0x0010
#define IDM_SAVEREGS 0x0020
#define IDM_LOADREGS 0x0030
#define IDM_DIAGNOSE 0x0040
#define IDM_CHOOSE 0x0050
#define IDM_RECONNECT 0x0060
#define IDM_EXPORT 0x0070
#define IDM_RECORD 0x0080
#define IDM_STOPRECORD 0x0090
#define IDM_SUPPLY 0x00A0
#define SC_CLOSE 0xF060

// Controls of the panel.
#define IDC_REG00 1006
#define IDC_REG08 1007
#define IDC_REGADDR 1016
#define IDC_DATA 1017
#define IDC_WRITE 1018
#define IDC_READ 1019
#define IDC_READBACK_ALL 1020
#define IDC_SLEEP 1021
#define IDC_LINEAR_A 1022
#define IDC_LINEAR_B 1023
#define IDC_LED_A_EN 1024
#define IDC_LED_B_EN 1025
#define IDC_LED2_ON_A 1026
#define IDC_FEEDBACK_A 1027
#define IDC_PWM_ACTIVE_LOW 1028
#define IDC_PWM_B 1029
#define IDC_PWM_A 1030
#define IDC_SW_RESET 1038
#define IDC_FEEDBACK_B 1039
#define IDC_REG01 1040
#define IDC_REG02 1041
#define IDC_REG03 1042
#define IDC_REG04 1043
#define IDC_SLOW_START 1044
#define IDC_REG05 1045
#define IDC_FMODE 1046
#define IDC_BRIGHT_A 1047
#define IDC_REG06 1048
#define IDC_OVP 1049
#define IDC_OCP 1050
#define IDC_REG07 1053
#define IDC_BRIGHT_B 1054
#define IDC_REG09 1055
#define IDC_VERSION 1056
#define IDC_STATUS 1057
#define IDC_REG0B 1058
#define IDC_REG12 1059
#define IDC_REG0A 1065
#define IDC_CURRENT_A 1068
#define IDC_FLAG_OCP 1071
#define IDC_CURRENT_B 1076
#define IDC_SLEEP_BUTTON 1077
#define IDC_FLAG_OVP 1079
#define IDC_FLAG_TSD 1080
#define IDC_RAMP_OFF 1081
#define IDC_RAMP_STOP 1082
#define IDC_RAMP_ON 1083
#define IDC_RAMP_START 1084

// Controls without an ID of their own (labels, group boxes, pictures).
#define IDC_STATIC (-1)

#endif
