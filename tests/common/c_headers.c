/* Every public header compiles as C99 with pedantic errors, as a C host
 * would include it. */
#include "dcu/config_record.h"
#include "dcu/host_services.h"
#include "dcu/reqhandlers.h"

/* The answer buffer a C host sees is the 204800 bytes the handlers write in. */
typedef char dcu_json_text_holds_204800[sizeof json_text == 204800 ? 1 : -1];

int dcu_c_headers_compile(void) { return (int)sizeof(dcu_config_record) + (int)sizeof(dcu_json_text_holds_204800); }
