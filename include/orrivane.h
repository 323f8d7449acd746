/* ORRIVANE.DLL: which BIOS a machine runs and which BIOS an image file holds.
 * Call Orrivane_Initialize once before the guarded queries; they answer 0
 * until a detection has succeeded. Text outputs are copied without a length
 * argument: give buffers of the sizes noted beside each function. */
#ifndef ORRIVANE_H
#define ORRIVANE_H

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define ORRIVANE_CALL __stdcall
#else
#define ORRIVANE_CALL
#endif

#if defined(_WIN32) && !defined(ORRIVANE_BUILD)
#define ORRIVANE_API __declspec(dllimport)
#else
#define ORRIVANE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result numbers of Orrivane_GetBIOSFileInfo, the only place they are
 * defined (the library returns these macros); any other non-zero number is
 * the service library's error passed through. */
#define ORRIVANE_OK 0u
#define ORRIVANE_ERR_OPEN 211u      /* the file cannot be opened for reading, or not read whole */
#define ORRIVANE_ERR_EMPTY 301u     /* the file is empty */
#define ORRIVANE_ERR_ALLOC 302u     /* no memory for the image */
#define ORRIVANE_ERR_LOCK 303u      /* the image memory cannot be locked */
#define ORRIVANE_ERR_UNKNOWN 304u   /* not a BIOS image this library recognises, or a compressed image without
                                     * its system BIOS */
#define ORRIVANE_ERR_WORK 305u      /* no memory for the expansion (allocated or locked) */
#define ORRIVANE_ERR_SERVICE 306u   /* the service library refused the expansion */
#define ORRIVANE_ERR_NO_STATUS 307u /* the service library's status request gave no error number: the expansion is
                                     * not known to have worked */

/* Runs the detection of the machine's BIOS: 1 detected, 0 not. */
ORRIVANE_API uint32_t ORRIVANE_CALL Orrivane_Initialize(void);
/* Does nothing; always 1. */
ORRIVANE_API uint32_t ORRIVANE_CALL Orrivane_Uninitialize(void);

ORRIVANE_API uint32_t ORRIVANE_CALL Orrivane_CheckBIOSTag(void);
/* 2 whenever a detection found the firmware tag: only a detection that
 * recognises no BIOS family looks for the tag (and clears the finding
 * first), so a later detection of a family still answers 2 here. Otherwise
 * as Orrivane_CheckBIOSTag. */
ORRIVANE_API uint32_t ORRIVANE_CALL InstallShield_CheckBIOSTag(void);

/* Size of a file in bytes, or 0 (always 0 on the NT family). */
ORRIVANE_API int32_t ORRIVANE_CALL Orrivane_GetBIOSFileSize(const char* path);

/* Buffers: model 60, identification 100, version 60, date 30, description 32
 * bytes; any output may be null. Always 0. */
ORRIVANE_API uint32_t ORRIVANE_CALL Orrivane_GetBIOSROMInfo(char* model, char* idString, char* version, char* date,
                                                           uint32_t* dateCode, uint32_t* extendedFamily,
                                                           uint32_t useAltModel, char* description);
/* Buffers: model 60, identification 100; a null one is skipped. Always 0. */
ORRIVANE_API uint32_t ORRIVANE_CALL InstallShield_GetBIOSROMInfo(char* model, char* idString);

/* Analyses an image file. Buffers: model 60, identification 100, version 60,
 * date 32 bytes; a null output is skipped. 0 or a result number above. */
ORRIVANE_API uint32_t ORRIVANE_CALL Orrivane_GetBIOSFileInfo(const char* path, char* model, char* idString,
                                                            char* version, char* date, uint32_t* dateCode,
                                                            uint32_t* identityRecordFound);
ORRIVANE_API uint32_t ORRIVANE_CALL Orrivane_GetROMbuildVersion(void);
/* Five characters and a NUL, owned by the library. */
ORRIVANE_API const char* ORRIVANE_CALL Orrivane_GetROMID(void);

ORRIVANE_API uint8_t ORRIVANE_CALL Orrivane_CheckLogo(void);
ORRIVANE_API uint32_t ORRIVANE_CALL InstallShield_CheckLogo(void);
/* 1 when both plug-in blocks carry a value, else 0. Declared 8-bit, yet the
 * whole 32-bit result register holds the 0 or 1. */
ORRIVANE_API uint8_t ORRIVANE_CALL Orrivane_CheckPlugins(void);
ORRIVANE_API uint32_t ORRIVANE_CALL InstallShield_CheckPlugins(void);
ORRIVANE_API uint32_t ORRIVANE_CALL Orrivane_CheckOnboardLan(void);
ORRIVANE_API uint32_t ORRIVANE_CALL Orrivane_CheckOnboardDev(void);
ORRIVANE_API uint32_t ORRIVANE_CALL Orrivane_GetFlashSize(void);
ORRIVANE_API uint8_t ORRIVANE_CALL Orrivane_GetBIOSType(void);
ORRIVANE_API uint32_t ORRIVANE_CALL Orrivane_GetDMIBIOSSize(void);

/* 1 when the process may do administrative work (always on the 9x family). */
ORRIVANE_API int32_t ORRIVANE_CALL Orrivane_IsAdministrator(void);
/* 1 when a present system device's first hardware id, upper-cased, contains
 * the text as given. */
ORRIVANE_API int32_t ORRIVANE_CALL InstallShield_CheckACPI(const char* hardwareIdPart);

#ifdef __cplusplus
}
#endif

#endif
