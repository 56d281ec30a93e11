#include "text/ResourceText.h"

Text LoadResourceText(HINSTANCE instance, UINT id) {
    char buffer[kResourceTextBuffer];
    buffer[0] = '\0';
    const int n = LoadStringA(instance, id, buffer, kResourceTextBuffer);
    if (n <= 0) return Text();
    // LoadStringA truncates and terminates within the buffer; cap the count
    // anyway so a misreported length can never read past it.
    const size_t length =
        n < kResourceTextBuffer ? static_cast<size_t>(n) : kResourceTextBuffer - 1;
    return Text(buffer, length);
}
