#pragma once

#include <array>

// The camera box's numbering of its picture sizes. The tag is both the
// resolution pop-up's item tag and the value of the box's resolution command.
namespace resolution
{

struct Entry {
    int tag;
    int width;
    int height;
};

inline constexpr std::array<Entry, 12> kTable{{
    {0, 640, 480},
    {1, 3840, 2160},
    {2, 2592, 1944},
    {3, 2688, 1512},
    {4, 2048, 1536},
    {5, 1920, 1080},
    {6, 1600, 1200},
    {7, 1280, 960},
    {8, 1280, 720},
    {9, 960, 540},
    {10, 800, 600},
    {11, 640, 360},
}};

// The tag of the first row whose size equals width x height exactly; a size
// the table does not know gives 0, the same as 640 x 480.
constexpr int tagForSize(double width, double height)
{
    for (const Entry &e : kTable)
        if (e.width == width && e.height == height)
            return e.tag;
    return 0;
}

// The row for a tag; nullptr for a tag outside 0 to 11.
constexpr const Entry *entryForTag(int tag)
{
    for (const Entry &e : kTable)
        if (e.tag == tag)
            return &e;
    return nullptr;
}

} // namespace resolution
