// The GoogleTest entry point of the Windows GUI tests: the exit code also goes
// to the file named by TOVANI_EXIT_STATUS_FILE, since they run inside Wine's
// desktop window, which does not pass it on.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <cstdio>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // The browser runtime wants its user interface in a single-threaded apartment, as the player has it.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int status = RUN_ALL_TESTS();
    wchar_t path[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"TOVANI_EXIT_STATUS_FILE", path, MAX_PATH) > 0) {
        if (FILE* f = _wfopen(path, L"wb")) {
            std::fprintf(f, "%d\n", status);
            std::fclose(f);
        }
    }
    std::fflush(nullptr);
    return status;
}
