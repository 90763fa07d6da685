/* The interface header compiles as C. */
#include "scriblet/scriblet_c.h"

scriblet_result scriblet_test_c_header(void)
{
    scriblet_logger* logger = 0;
    scriblet_result result = scriblet_logger_create(&logger);
    scriblet_logger_release(logger);
    return result;
}
