/* Stand-in browser: writes its command line and module path, one per line,
   to its own path + ".args", then exits. The file is written under a
   temporary name and renamed, so a reader never sees half of it. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

int main(void) {
    char module[MAX_PATH], out[MAX_PATH + 8], tmp[MAX_PATH + 8];
    DWORD n = GetModuleFileNameA(NULL, module, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return 1;
    snprintf(out, sizeof out, "%s.args", module);
    snprintf(tmp, sizeof tmp, "%s.tmp", module);
    FILE* f = fopen(tmp, "wb");
    if (!f) return 1;
    fprintf(f, "%s\n%s\n", GetCommandLineA(), module);
    fclose(f);
    return MoveFileA(tmp, out) ? 0 : 1;
}
