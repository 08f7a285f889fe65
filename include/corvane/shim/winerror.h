/* Stands in for <winerror.h>: the ERROR_* statuses, which corvane/winreg.h
 * defines with the rest of the registry API. */
#include <corvane/winreg.h>
