#pragma once

// The format chosen in the save dialog; it selects the converter preset. Flv keeps the
// downloaded Flash Video as it is.
enum class OutputFormat : int {
    Flv = 0,
    IPod = 1,
    IPhone = 2,
    Psp = 3,
    CellPhone = 4,
    WindowsMedia = 5,
    Xvid = 6,
    Mp3 = 7,
};
