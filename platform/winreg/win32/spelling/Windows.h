/* <Windows.h> for the mingw-w64 cross build on Linux, whose headers spell it
 * <windows.h> only: Windows code writes both. Where names are not
 * case-sensitive this file is found for either spelling and passes on to the
 * system's header, further down the include path. */
#include_next <windows.h>
