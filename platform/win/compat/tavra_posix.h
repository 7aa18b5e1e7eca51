// The few POSIX calls the shared units make, on the Windows C runtime. Every
// translation unit of the Windows tree includes this first (cmake/TavraWindows.cmake);
// the descriptors are the runtime's, the paths UTF-8.
#pragma once

// 64-bit sizes and offsets in stat, fstat, lseek and ftruncate.
#ifndef _FILE_OFFSET_BITS
#define _FILE_OFFSET_BITS 64
#endif

#ifdef __cplusplus
// localtime_r and gmtime_r from the runtime's time.h.
#ifndef _POSIX_THREAD_SAFE_FUNCTIONS
#define _POSIX_THREAD_SAFE_FUNCTIONS 200112L
#endif
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#ifndef O_CLOEXEC
#define O_CLOEXEC _O_NOINHERIT
#endif
#ifndef O_NONBLOCK
#define O_NONBLOCK 0
#endif
#ifndef F_DUPFD_CLOEXEC
#define F_DUPFD_CLOEXEC 1030
#endif
#ifndef S_IWUSR
#define S_IWUSR _S_IWRITE
#endif

// UTF-8 names, opened in binary mode. A better match than the runtime's
// variadic open, so ::open(path, flags, mode) lands here. The runtime's would
// read the name in the ANSI code page and miss a file named in Czech, so a
// call without a mode does not compile: every call passes one (0 when nothing
// is created).
int open(const char* path, int flags, int mode);
int open(const char* path, int flags) = delete;

ssize_t pread(int fd, void* buffer, size_t count, int64_t offset);
ssize_t pwrite(int fd, const void* buffer, size_t count, int64_t offset);
int fsync(int fd);
int fdatasync(int fd);
// Only F_DUPFD_CLOEXEC: a duplicate descriptor.
int fcntl(int fd, int command, int argument);
char* mkdtemp(char* pattern);
int setenv(const char* name, const char* value, int overwrite);
int unsetenv(const char* name);
#endif
