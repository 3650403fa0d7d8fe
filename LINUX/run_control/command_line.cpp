// The command-line words, taken so that the password leaves what other
// users can see (the process list, a core file) before anything else runs.
#include "LINUX/run_control/run_control.hpp"
#include "tarnlibrary/process_library/process_library.hpp"

#include <csignal>
#include <exception>

namespace cgnat {

std::vector<std::string> take_command_line(int argc, char **argv) {
  tarn::disable_core_dumps();
  std::vector<std::string> words(argv, argv + argc);
  if (words.size() == 7) {
    tarn::hide_word(argc, argv, PASSWORD_WORD, tarn::SECRET_MASK);
    if (auto inherited = tarn::take_inherited_secret())
      words[PASSWORD_WORD] = std::move(*inherited);
  }
  return words;
}

int run_process(int argc, char **argv, int runtime_limit) {
  std::vector<std::string> words;
  try {
    words = take_command_line(argc, argv);
  } catch (const std::exception &error) {
    print_error(error.what());
    return 1;
  }
  // A peer that closes early is an error to report, not a reason to die.
  std::signal(SIGPIPE, SIG_IGN);
  return run(words, runtime_limit);
}

} // namespace cgnat
