#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "tstrings.h"

// An .ico file taken apart into the resources Windows shows an executable's
// icon from: one RT_ICON per image and the RT_GROUP_ICON directory that
// refers to them by id.
class IconGroup {
public:
    // `firstId` is the RT_ICON id of the first image. Raises a ToolError naming
    // `source` when the bytes are no .ico file or an image lies outside them.
    IconGroup(const std::vector<std::uint8_t>& ico, const tstring& source, WORD firstId = 1);

    const std::vector<std::vector<std::uint8_t>>& images() const { return imageData; }
    WORD firstId() const { return first; }
    const std::vector<std::uint8_t>& groupDirectory() const { return directory; }

private:
    std::vector<std::vector<std::uint8_t>> imageData;
    std::vector<std::uint8_t> directory;
    WORD first;
};
