#include "framework/options.h"

#include "framework/search_lists.h"
#include "platform/platform.h"

bool begins_option_group(const std::u16string& arg) {
  if (arg.empty()) return false;
  return arg[0] == u'-' || arg[0] == u'+' ||
         (arg[0] == u'/' && plat::slash_begins_option());
}

void parse_options(const std::vector<std::u16string>& args) {
  size_t i = 1;
  for (; i < args.size() && !begins_option_group(args[i]); ++i)
    add_search_arg(args[i]);
  if (type_list.empty()) add_file_type(u"*.*");
}
