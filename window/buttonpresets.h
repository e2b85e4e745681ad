#ifndef ZELMORA_BUTTONPRESETS_H
#define ZELMORA_BUTTONPRESETS_H

// The start and stop buttons carry no text: these style sheets are the only
// way they show whether sampling runs. A preset is applied start button first.
inline constexpr const char START_STYLE_IDLE[] = "QPushButton{image: url(:/start.png);}";
inline constexpr const char START_STYLE_ACTIVE[] =
    "QPushButton{image: url(:/start.png); background-color: rgb(0, 255, 0);}";
inline constexpr const char STOP_STYLE_IDLE[] = "QPushButton{ image: url(:/stop.png); }";
inline constexpr const char STOP_STYLE_ACTIVE[] =
    "QPushButton{ image: url(:/stop.png); background-color: rgb(0, 255, 0); }";

struct ButtonPreset
{
    const char *startStyle;
    const char *stopStyle;
};

inline constexpr ButtonPreset PRESET_IDLE{START_STYLE_IDLE, STOP_STYLE_IDLE};
inline constexpr ButtonPreset PRESET_RUNNING{START_STYLE_ACTIVE, STOP_STYLE_IDLE};
inline constexpr ButtonPreset PRESET_STOPPED{START_STYLE_IDLE, STOP_STYLE_ACTIVE};

#endif
