// SPDX-License-Identifier: MIT
#include "res/string_table.h"

#include "res/resource.h"

const char *LoadResourceString(int id) {
    switch (id) {
    case IDS_ABOUTBOX:
        return "&About XQ4620...";
    default:
        return "";
    }
}
