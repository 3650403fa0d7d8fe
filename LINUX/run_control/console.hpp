// Fixed presentation values and the one way lines reach standard output.
#pragma once

#include <string_view>

namespace cgnat {

inline constexpr std::string_view VERSION = "1.0.0";
inline constexpr int RUNTIME_LIMIT = 300; // seconds

inline constexpr std::string_view RED = "\033[1;31m";
inline constexpr std::string_view CYAN = "\033[1;36m";
inline constexpr std::string_view GREEN = "\033[0;32m";
inline constexpr std::string_view RESET = "\033[0;0m";
inline constexpr std::string_view YELLOW = "\033[0;93m";

inline constexpr std::string_view SUPPORT_CONTACT =
    "Tarn Tecnologia, suporte@tarn.com.br, +55 11 3090-4400";

// Writes text and a line feed to standard output and flushes, so a line is
// never lost when the process is ended by the watchdog.
void print_line(std::string_view text);

// The one-line error report on standard error: "Erro: " and the cause, with
// invalid UTF-8 (from command-line words) replaced.
void print_error(std::string_view cause);

} // namespace cgnat
