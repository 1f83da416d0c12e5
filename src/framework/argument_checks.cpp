#include "framework/argument_checks.h"

#include <cstdio>

#include "framework/exit_status.h"
#include "framework/long_options.h"
#include "framework/options.h"
#include "framework/program_texts.h"
#include "framework/requests.h"
#include "framework/search_lists.h"
#include "framework/settings.h"
#include "platform/platform.h"

void answer_mistakes_without_file_argument(const std::vector<std::u16string>& args) {
  if (args.size() < 2 || is_file_argument(args[1])) return;
  bool mistaken = args.size() == 2 && args[1].size() == 2 && begins_option_group(args[1]) &&
                  (args[1][1] == u'h' || args[1][1] == u'H');
  for (size_t k = 1; k < args.size() && !mistaken; ++k)
    mistaken = is_long_option(args[k]) && !long_option_known(args[k].substr(2)) &&
               !is_jobs_option(std::u16string_view(args[k]).substr(2));
  if (!mistaken) return;
  show_usage();
  show_help();
  end_run(exit_status::illegal_option);
}

void refuse_output_over_input() {
  if (g_options.output != 1) return;
  for (const auto& argument : file_arguments) {
    if (argument.pattern.empty() || argument.pattern.find_first_of(u"*?") != std::u16string::npos)
      continue;
    if (!plat::same_file(output_path, argument.directory + argument.pattern)) continue;
    std::fprintf(stderr, "\nOutput file %s is also an input file\n",
                 plat::to_native(output_path).c_str());
    end_run(exit_status::illegal_option);
  }
}
