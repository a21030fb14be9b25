// Reading the time history and writing the result, with the one syntax for
// numbers in text and the one output number format.
#ifndef BRELLUM_HISTORY_IO_H
#define BRELLUM_HISTORY_IO_H

#include <cstdint>

// The most characters one number's text may have, leading sign not counted.
constexpr int number_text_limit = 349;

enum scan_outcome { no_number, number_read };

// True for the six white-space bytes: space, tab, LF, VT, FF and CR.
inline bool is_white_space(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Reads one number from the text [*cursor, end), where end is the end of the
// input. Skips white space, then consumes [+-]digits[.digits][e[+-]digits]
// (at least one digit before the exponent; 349 characters at most after the
// sign) and leaves *cursor after what it consumed, also when it fails: a lone
// sign or point stays consumed. On number_read, *value is the nearest double,
// an infinity or a signed zero where the value is out of range.
// Most texts convert by a fast route that is exact where it applies and
// hands every other text to convert_number_exact.
scan_outcome scan_number(const char** cursor, const char* end, double* value);

// The exact route: the nearest double to the unsigned number text
// [text, end) as scan_number consumed it (digits, point, exponent part);
// infinity above the range of doubles, a denormal or 0.0 below it.
double convert_number_exact(const char* text, const char* end);

// Reads one pair into index point_count of time_history without changing
// point_count: returns 2 (time and amplitude), 1 (time only) or 0 (nothing).
int read_pair();

// Fills time_history from input_file, from its start, until a time cannot be
// read or max_points points are held. Leaves the file open.
void read_time_history();

// Longest field format_number writes: a minus sign and 14 characters.
constexpr int number_field_limit = 15;

// Writes value as d.ddddddde+ddd (eight significant digits, three-digit
// exponent) into field, with a leading '-' for a negative value, and returns
// the length, 14 or 15. The digits come from the value's 17-digit form,
// rounded again to eight.
int format_number(double value, char* field);

// The two routes of format_number for a finite, non-zero value. The fast one
// returns 0 where it cannot decide (a denormal, or a value whose 17-digit
// form lies too close to a halfway point of the eighth digit); the exact one
// rounds the value's 17-digit form from the library's exact conversion.
int format_number_fast(double value, char* field);
int format_number_exact(double value, char* field);

// Writes one line per point to output_file: time, a space, amplitude plus
// noise, a space, CR LF. Neither flushes nor closes the file.
void write_result();

#endif
