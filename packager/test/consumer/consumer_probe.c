/* Calls the consumer's DLL once and prints what it returned. */
#include <stdio.h>

__declspec(dllimport) int consumerNormalizeProductCode(const char* text, char* out, int outSize);

int main(void) {
    char out[64];
    if (consumerNormalizeProductCode("d0ab6657814e4b30af5ebb2adcfe65dc", out, sizeof out) != 0) {
        puts("consumerNormalizeProductCode failed");
        return 1;
    }
    puts(out);
    return 0;
}
