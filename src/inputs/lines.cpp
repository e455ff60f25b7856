// SPDX-License-Identifier: MIT
// lines.cpp: the lines of S-records and TI-TXT, read with the rules they
// share.
#include "inputs/readers.h"

#include <cstring>

void record_lines_begin(record_lines_t *lines, FILE *file)
{
    text_reader_begin(&lines->reader, file);
    lines->number = 0;
}

bool record_line(record_lines_t *lines, const char *kind, bool spaces, input_summary_t *summary,
                 input_error_t *error, size_t *length, bool *failed)
{
    char *line = lines->line;
    *failed = false;
    for (size_t read; (read = text_read_line(&lines->reader, line, sizeof lines->line)) != 0;) {
        lines->number++;
        // a NUL would hide the rest of its line (a letter and a NUL: no records at all)
        const char *nul = summary->end_of_file_seen ? nullptr : static_cast<const char *>(memchr(line, 0, read));
        if (nul != nullptr) {
            *failed = true;
            return summary->records == 0 && nul < line + 2 ? input_no_format(error)
                                                           : input_nul(error, lines->number, uint32_t(nul - line) + 1);
        }
        *length = strlen(line); // after the end record, a NUL ends a line as it always did
        bool whole = *length != 0 && line[*length - 1] == '\n';
        while (*length != 0 && (line[*length - 1] == '\n' || line[*length - 1] == '\r' ||
                                (spaces && (line[*length - 1] == ' ' || line[*length - 1] == '\t'))))
            --*length;
        line[*length] = '\0';
        if (*length == 0)
            continue;
        if (!whole && read == sizeof lines->line - 1) {
            *failed = true;
            return input_error(error, lines->number, "line longer than any %s", kind);
        }
        if (summary->end_of_file_seen) {
            summary->extra_data = true;
            return false;
        }
        return true;
    }
    if (ferror(lines->reader.file)) {
        *failed = true;
        return input_system_error(error, "cannot read input file");
    }
    return false;
}
