// printf into std::string, with the compiler checking the format.
#pragma once

#include <glib.h>

#include <cstdarg>
#include <string>

std::string printf_string(const char *format, ...) G_GNUC_PRINTF(1, 2);
std::string vprintf_string(const char *format, va_list args) G_GNUC_PRINTF(1, 0);
