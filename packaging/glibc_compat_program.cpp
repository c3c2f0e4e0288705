// Older glibc symbol versions for the programs we hand out (beside glibc_compat.cpp,
// which every shipped binary has), each reached through -Wl,--wrap=SYMBOL:
//
//   dlopen, dlsym, dlerror, dlclose  GLIBC_2.34  ->  GLIBC_2.2.5, found in libdl.so.2 before 2.34
//                                                    (so the programs list libdl.so.2 as needed)
//   __libc_start_main                GLIBC_2.34  ->  GLIBC_2.2.5, handed a function that runs the
//                                                    program's constructors: start-up code built
//                                                    against 2.34 passes none, and glibc before
//                                                    2.34 runs only the one it is given
#if defined(__x86_64__) && defined(__linux__)
#include <cstddef>

extern "C" {

void* tolvane_dlopen(const char* file, int mode);
void* tolvane_dlsym(void* handle, const char* name);
char* tolvane_dlerror();
int tolvane_dlclose(void* handle);
__asm__(".symver tolvane_dlopen, dlopen@GLIBC_2.2.5");
__asm__(".symver tolvane_dlsym, dlsym@GLIBC_2.2.5");
__asm__(".symver tolvane_dlerror, dlerror@GLIBC_2.2.5");
__asm__(".symver tolvane_dlclose, dlclose@GLIBC_2.2.5");

void* __wrap_dlopen(const char* file, int mode) { return tolvane_dlopen(file, mode); }
void* __wrap_dlsym(void* handle, const char* name) { return tolvane_dlsym(handle, name); }
char* __wrap_dlerror() { return tolvane_dlerror(); }
int __wrap_dlclose(void* handle) { return tolvane_dlclose(handle); }

using MainFunction = int (*)(int, char**, char**);
using InitFunction = void (*)(int, char**, char**);
int tolvane_libc_start_main(MainFunction main, int argc, char** argv, InitFunction init, void (*fini)(),
                            void (*rtldFini)(), void* stackEnd);
__asm__(".symver tolvane_libc_start_main, __libc_start_main@GLIBC_2.2.5");

// The linker's bounds of the program's constructor table, and its .init section.
extern InitFunction __init_array_start[] __attribute__((visibility("hidden")));
extern InitFunction __init_array_end[] __attribute__((visibility("hidden")));
void _init();

// What glibc's own start-up helper did until 2.34.
static void runConstructors(int argc, char** argv, char** environment) {
    _init();
    const std::size_t count = static_cast<std::size_t>(__init_array_end - __init_array_start);
    for (std::size_t i = 0; i < count; ++i) __init_array_start[i](argc, argv, environment);
}

int __wrap___libc_start_main(MainFunction main, int argc, char** argv, InitFunction init, void (*fini)(),
                             void (*rtldFini)(), void* stackEnd) {
    return tolvane_libc_start_main(main, argc, argv, init ? init : runConstructors, fini, rtldFini, stackEnd);
}

}  // extern "C"
#endif
