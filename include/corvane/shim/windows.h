/* Stands in for <windows.h> on Linux when corvane/shim is on the include
 * path: ordinary Windows registry code then builds unchanged against
 * Corvane's emulated registry. Only the registry part of the API is here. */
#ifndef _WINDOWS_
#define _WINDOWS_
#include <corvane/winreg.h>
#endif
