/* Stands in for <winreg.h>, which Windows code sometimes names beside
 * <windows.h>: the same declarations, from corvane/winreg.h. */
#include <corvane/winreg.h>
