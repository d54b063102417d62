#include "fe-common/printf.h"

#include <memory>

std::string vprintf_string(const char *format, va_list args)
{
    std::unique_ptr<char, decltype(&g_free)> text(g_strdup_vprintf(format, args), g_free);
    return text.get();
}

std::string printf_string(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = vprintf_string(format, args);
    va_end(args);
    return text;
}
