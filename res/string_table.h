// SPDX-License-Identifier: MIT
// The string table.
#ifndef RES_STRING_TABLE_H
#define RES_STRING_TABLE_H

// The text of string `id`; empty for an unknown ID.
const char *LoadResourceString(int id);

#endif
