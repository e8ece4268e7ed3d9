/* Every public header compiles as C99 with pedantic errors, as a C host
 * would include it. */
#include "dcu/config_record.h"
#include "dcu/host_services.h"
#include "dcu/reqhandlers.h"

int dcu_c_headers_compile(void) { return (int)sizeof(dcu_config_record); }
