#include "app/commands.h"

namespace tv {

const ButtonInfo kButtons[kButtonCount] = {
    {1676, 285, 0, 0, 0},       {1672, 261, 117, 0, 0},      {1674, 264, 119, 0, 0},
    {32863, 359, 102, 1, 0},    {32864, 360, 122, 1, 0},     {32776, 281, 104, 0, 0},
    {32788, 200, 105, 0, 0},    {32789, 227, 110, 0, 0},     {32791, 230, 106, 0, 0},
    {32790, 231, 107, 0, 0},    {32804, 282, 120, 0, 0},     {32792, 236, 108, 0, 0},
    {32793, 237, 109, 0, 0},    {1253, 242, 115, 0, 0},      {1254, 374, 32883, 0, 0},
    {32787, 371, 114, 1, 0},    {1694, 300, 121, 0, 0},      {32796, 245, 111, 0, 0},
    {32797, 248, 112, 0, 0},    {32798, 251, 113, 0, 0},     {32846, 306, 32863, 0, 0},
    {32848, 227, 32848, 0, 9},  {32849, 230, 32849, 0, 7},   {32850, 200, 32850, 0, 11},
    {32851, 231, 32851, 0, 10}, {32852, 326, 32852, 0, 8},   {32853, 316, 32853, 0, 6},
    {32855, 308, 32855, 0, 1},  {32856, 364, 32856, 0, 2},   {32857, 245, 32857, 0, 3},
    {32858, 245, 32858, 0, 4},  {32854, 248, 32854, 0, 132}, {32859, 312, 32859, 0, 12},
    {32860, 313, 32860, 0, 13}, {32861, 314, 32861, 0, 14},  {32862, 315, 32862, 0, 15},
    {32876, 364, 32876, 0, 21}, {32877, 365, 32877, 0, 22},  {32878, 366, 32878, 0, 23},
    {32879, 367, 32879, 0, 24}, {32880, 368, 32880, 0, 25},  {32881, 369, 32881, 0, 15},
    {32882, 245, 32882, 0, 15},
};

const ButtonInfo* FindButton(int id) {
    for (const ButtonInfo& info : kButtons) {
        if (info.id == id) {
            return &info;
        }
    }
    return nullptr;
}

int RemoteKeyForVirtualKey(int vk) {
    switch (vk) {
    case 0x08: // Backspace
    case 0x25: // Left
        return 7;
    case 0x0D: // Enter
    case 0x22: // Page Down
        return 15;
    case 0x1B: // Esc
    case 0x23: // End
        return 12;
    case 0x21: // Page Up
        return 6;
    case 0x24: // Home
        return 8;
    case 0x26: // Up
        return 13;
    case 0x27: // Right
        return 10;
    case 0x28: // Down
        return 14;
    case 0x2D: // Insert
        return 11;
    case 0x2E: // Delete
        return 5;
    case 0x70: // F1
        return 136;
    case 0x71:
        return 137;
    case 0x72:
        return 138;
    case 0x73: // F4
        return 135;
    // The signs, from the numeric pad or the main keys, go on as the
    // characters they are; the letter rule below would turn * and + into J
    // and K, and - (0xBD) and / (0xBF) into nothing.
    case 0x6A:
        return '*';
    case 0x6B:
        return '+';
    case 0x6D:
    case 0xBD:
        return '-';
    case 0x6F:
    case 0xBF:
        return '/';
    default:
        break;
    }
    int code = vk;
    if (code >= 97 && code <= 122) {
        code -= 32;
    }
    if (code == 42 || code == 43 || code == 45 || code == 47 || (code >= 48 && code <= 57) ||
        (code >= 65 && code <= 90)) {
        return code;
    }
    return -1;
}

} // namespace tv
