// SPDX-License-Identifier: MIT
/*
 * vtx: the USB-to-I2C adapter library.
 *
 * A small C API over interchangeable backends: the simulated evaluation board
 * ("sim" private to the process, "sim:NAME" shared by every process that
 * names it), a Linux I2C bus named by path, or the USB-to-I2C bridges the
 * kernel exposes as /dev/i2c-N, found by detection or by their USB serial or
 * port (vtx/adapters.h). VTX_ADAPTER, read at the first call, names the
 * adapter vtxFindControllers and vtxOpen look at; vtxSelectAdapter names
 * another for the calling thread, so that one program opens several.
 *
 * Every function returns a 32-bit signed result; a negative result is a
 * failure and holds a negated errno value (-EBADF for a handle the library did
 * not hand out, -EINVAL for a bad argument, -ENXIO for a chip that does not
 * acknowledge, and the system's own reason from a real bus).
 *
 * VTX_TRACE=FILE appends one line per call to FILE.
 */
#ifndef VTX_VTX_H
#define VTX_VTX_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Size of the buffer vtxGetSerialNumber fills, terminating NUL included. */
#define VTX_SERIAL_SIZE 64

/* Number of adapters present; 0 when there are none. */
int32_t vtxFindControllers(void);

/* Copies the serial number of adapter `index` into `serial`, which must hold
 * VTX_SERIAL_SIZE bytes. */
int32_t vtxGetSerialNumber(int32_t index, char *serial);

/* Opens the adapter with that serial number; returns its handle (> 0). */
int32_t vtxOpen(const char *serial);

/* Makes this thread's vtxFindControllers, vtxGetSerialNumber and vtxOpen
 * look at the adapter `name` names, as VTX_ADAPTER would (sim, sim:NAME,
 * /dev/i2c-N, usb:SERIAL, usb-port:PORT, "" for detection; vtx/adapters.h),
 * instead of at VTX_ADAPTER's, so that one program opens several adapters
 * side by side, each with its own handle, hold and backend. NULL goes back
 * to VTX_ADAPTER. Handles already open stay as they are. -EINVAL (with the
 * reason for vtxLastError) for a name that is nothing VTX_ADAPTER takes. */
int32_t vtxSelectAdapter(const char *name);

/* Fills `length` bytes (at least 4) of `buffer` with the firmware version:
 * bytes 0 and 1 the adapter's major and minor, bytes 2 and 3 the second
 * firmware's major and minor, further bytes 0. */
int32_t vtxFirmwareVersion_Read(int32_t handle, uint8_t *buffer, int32_t length);

/* Configures the I2C master. */
int32_t vtxI2C_Control(int32_t handle, int32_t speed, int32_t pullups, int32_t enable);

/* Configures the adapter's thirteen GPIO control values. */
int32_t vtxGPIO_WriteControl(int32_t handle, int32_t cfg0, int32_t cfg1, int32_t cfg2, int32_t cfg3,
                             int32_t cfg4, int32_t cfg5, int32_t cfg6, int32_t cfg7, int32_t cfg8,
                             int32_t cfg9, int32_t cfg10, int32_t cfg11, int32_t cfg12);

/* Switches the adapter's supply outputs for the target board. */
int32_t vtxPower_WriteControl(int32_t handle, int32_t supplyOn, int32_t voltage);

/* Writes one register byte of the chip at 7-bit address `device`; 0 on
 * success. */
int32_t vtxI2C_RegisterWrite(int32_t handle, uint16_t device, uint8_t reg, uint8_t value);

/* Reads one register byte; returns the value (0..255) or a negative error. */
int32_t vtxI2C_RegisterRead(int32_t handle, uint16_t device, uint8_t reg);

/* Why the last call of this thread that failed, failed: copies the sentence
 * a person reads (what went wrong and what to do, as the library told it on
 * standard error, or else the words for the error code) into `text`, cut to
 * `size` - 1 characters and NUL-terminated. Returns that call's result, 0
 * when no call has failed (`text` then ""). A vtxFindControllers that found
 * nothing counts as -ENODEV; a call on a handle that was never handed out
 * keeps the reason the find or open before it failed. Not traced. */
int32_t vtxLastError(char *text, int32_t size);
/* Holds the adapter for a sequence of calls, so that none of our other
 * programs on the same board (the panel, the command, a script) gets between
 * them, as a read-modify-write needs. Waits at most `timeout_ms` (0: one try)
 * for another program to let go: -EBUSY if it still holds the adapter then.
 * Holds nest: each vtxLock needs its vtxUnlock, and only the outermost
 * vtxUnlock lets go. The hold is the calling thread's: another thread of the
 * process waits for it as another program does (vtxUnlock from it is
 * -EPERM), a thread that ends holding it lets go, and the child of a fork()
 * holds nothing of its parent's.
 * Every other call takes the same hold for itself, waiting at most
 * VTX_CALL_WAIT_MS before it fails with -EBUSY; after such a failure, the
 * next calls try once without waiting until one gets the adapter. */
int32_t vtxLock(int32_t handle, int32_t timeout_ms);

/* Ends one vtxLock; -EPERM when the calling thread does not hold the adapter. */
int32_t vtxUnlock(int32_t handle);

#define VTX_CALL_WAIT_MS 5000

#ifdef __cplusplus
}
#endif

#endif
