#include "checkasm/checkasm.h"

std::vector<KernelCase> cliKernelCases(uint32_t) { return {}; }
std::vector<KernelTableView> hostKernelTables() { return {}; }
