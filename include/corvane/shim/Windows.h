/* Stands in for <Windows.h>, as Windows code also spells <windows.h>: Linux
 * file names are case-sensitive. The same as corvane/shim/windows.h, so that
 * either file serves where names are not. */
#ifndef _WINDOWS_
#define _WINDOWS_
#include <corvane/winreg.h>
#endif
