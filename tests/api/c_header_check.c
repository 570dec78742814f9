/* A C program that includes the umbrella header and links the library. */
#include <lumvara/lumvara.h>
#include <stddef.h>

int main(void) {
  lumvara_set_log_handler(NULL, NULL);
  lumvara_reset_log_handler();
  return 0;
}
