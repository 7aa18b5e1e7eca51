// Exit codes of the runtime's _pclose and _spawn: the code itself.
#pragma once
#include <cstdio>
#define WIFEXITED(status) ((status) != -1)
#define WEXITSTATUS(status) ((status)&0xff)
#define popen _popen
#define pclose _pclose
