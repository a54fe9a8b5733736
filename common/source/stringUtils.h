// In-place conversions between C strings and Pascal strings (a length byte
// and up to 255 characters, no terminating zero).
#pragma once

// Turns the C string in `buffer` into a Pascal string in the same n + 1
// bytes. Returns the buffer, or null (buffer unchanged) when the text is
// longer than 255 characters or `buffer` is null. Reads at most 256 bytes.
unsigned char* SUctopstr(char* buffer);
// Turns the Pascal string in `buffer` into a C string in the same n + 1
// bytes and returns it; null stays null.
char* SUptocstr(unsigned char* buffer);
