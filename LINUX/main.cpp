#include "LINUX/run_control/console.hpp"
#include "LINUX/run_control/run_control.hpp"
#include "tarnlibrary/process_library/process_library.hpp"

#include <csignal>
#include <exception>

int main(int argc, char **argv) {
  // The password first leaves what other users can see: the process list,
  // a core file.
  tarn::disable_core_dumps();
  std::vector<std::string> words(argv, argv + argc);
  if (words.size() == 7) {
    tarn::hide_word(argc, argv, cgnat::PASSWORD_WORD, tarn::SECRET_MASK);
    try {
      if (auto inherited = tarn::take_inherited_secret())
        words[cgnat::PASSWORD_WORD] = std::move(*inherited);
    } catch (const std::exception &error) {
      cgnat::print_error(error.what());
      return 1;
    }
  }
  // A peer that closes early is an error to report, not a reason to die.
  std::signal(SIGPIPE, SIG_IGN);
  return cgnat::run(words);
}
