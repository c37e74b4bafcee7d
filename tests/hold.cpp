// Holds a file open for a while, as a loader, a viewer or a virus scanner
// does, for the Windows checks in tests/failures/.
// usage: hold FILE SHARE SECONDS
//   SHARE: what other programs may do meanwhile, any of r (read), w (write)
//   and d (delete), or none. Prints "held" once the file is open.
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fputs("usage: hold FILE SHARE SECONDS\n", stderr);
        return 2;
    }
    DWORD share = 0;
    for (const wchar_t* letter = argv[2]; *letter != L'\0'; ++letter) {
        share |= *letter == L'r'   ? FILE_SHARE_READ
                 : *letter == L'w' ? FILE_SHARE_WRITE
                 : *letter == L'd' ? FILE_SHARE_DELETE
                                   : 0;
    }
    const HANDLE file = ::CreateFileW(argv[1], GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "hold: cannot open the file: error %lu\n", ::GetLastError());
        return 1;
    }
    std::puts("held");
    (void)std::fflush(stdout);
    ::Sleep(static_cast<DWORD>(std::wcstod(argv[3], nullptr) * 1000));
    ::CloseHandle(file);
    return 0;
}
