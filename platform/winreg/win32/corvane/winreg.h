/* corvane/winreg.h in the Windows build: the registry API is the system's
 * own, from <windows.h>, and only Corvane's seeding call is added, so that
 * tests written against this header run on Linux and Windows alike. */
#ifndef CORVANE_WINREG_H
#define CORVANE_WINREG_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Corvane's own, not Windows': see the Linux header of the same name. On
 * Windows the file is applied call by call, so a refused key leaves the
 * ones before it applied. */
LSTATUS CorvaneImportRegFile(const char* path);
const char* CorvaneImportRegFileError(void);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* CORVANE_WINREG_H */
