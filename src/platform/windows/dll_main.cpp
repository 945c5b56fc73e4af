// DVKCDLL.dll stays loaded until the process ends, like OpenSSL's own DLLs:
// OpenSSL and the C++ runtime linked into it leave exit-time and thread-exit
// callbacks with the C runtime, which would otherwise call into an unloaded
// image after a host's FreeLibrary. Only the DLL has this entry point; the
// tests link the library's objects into their own programs.
//
// OpenSSL is linked in statically, so nothing else frees the state it keeps
// for each thread that called it (error queue, random generators): each
// thread's goes when the thread ends, as OpenSSL's own DLL does it.
#include <windows.h>

#include <openssl/crypto.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        HMODULE self = nullptr;
        // Pinning adds no reference a FreeLibrary could drop; failing it only
        // leaves the DLL unloadable as usual.
        ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                             reinterpret_cast<LPCWSTR>(&DllMain), &self);
    } else if (reason == DLL_THREAD_DETACH) {
        OPENSSL_thread_stop();
    }
    return TRUE;
}
