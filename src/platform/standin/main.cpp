// Entry point of the stand-in executable: the POSIX arguments become the
// Windows command line the core parses, and the linked resource table is the
// module.
#include <string>
#include <vector>

#include "launcher/run_options.h"
#include "platform/standin/command_line.h"
#include "platform/standin/process.h"
#include "platform/standin/resource_table.h"
#include "platform/standin/utf.h"

extern const sp::standin::ResourceTable spModuleResources;

int main(int argc, char** argv) {
    std::vector<std::u16string> arguments;
    for (int i = 0; i < argc; ++i) arguments.push_back(sp::standin::Utf8ToUtf16(argv[i]));
    sp::standin::SetProcessCommandLine(sp::standin::JoinCommandLine(arguments));
    return sp::WrapperMain(&spModuleResources);
}
