#include "ipconv/header.h"

void open_output() {}
void print_run_header(const std::vector<std::u16string>&) {}
