// Writes the command line it was started with to the file named by VARNEL_RECORD.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main()
{
    const char* path = std::getenv("VARNEL_RECORD");
    std::FILE* f = path != nullptr ? std::fopen(path, "wb") : nullptr;
    if (f == nullptr)
        return 1;
    std::fputs(GetCommandLineA(), f);
    return std::fclose(f) == 0 ? 0 : 1;
}
