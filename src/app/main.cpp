#include "app/driver.h"

#if defined(_WIN32)
int wmain(int argc, wchar_t** argv) { return quenthar::RunTool(argc, argv); }
#else
int main(int argc, char** argv) { return quenthar::RunTool(argc, argv); }
#endif
