// The URL grabber: recognising addresses in lines the client shows or sends.
#pragma once

// Scans one line (UTF-8, any line end) for URLs to remember; the line is
// only read, never kept.
void url_check_line(const char *line);
