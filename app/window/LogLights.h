// LogLights: one counter per log level from Debug to Fatal on the main
// window's light panel, each turning to its level's colour once the level
// has entries. The count labels are kept by level; the name labels under
// them belong to the form. Window thread only.
#pragma once

#include <QColor>
#include <array>

#include "modules/Lognest/LogService.h"

class QLabel;
class QWidget;

class LogLights {
public:
    static constexpr int kFirstLevel = llDebug;
    static constexpr int kLastLevel = llFatal;
    static constexpr int kLightCount = kLastLevel - kFirstLevel + 1;
    static constexpr int kCountWidth = 33;
    static constexpr int kCountHeight = 22;
    static constexpr int kGap = 5;
    static constexpr int kFirstLeft = 2;
    static constexpr int kTop = 2;
    static constexpr int kNameHeight = 8;

    // log may be null (no lights then change). form owns the labels.
    LogLights(LogService* log, QWidget* form, QWidget* panel);
    virtual ~LogLights();
    LogLights(const LogLights&) = delete;
    LogLights& operator=(const LogLights&) = delete;

    virtual void Build();
    // Counts only grow, so a zero count leaves its light as it is.
    virtual void Refresh();
    virtual void SetCounts(int debug, int pyWarn, int warn, int design, int pyErr, int error, int fatal);

    static QColor LevelColour(int level);
    // The count label of a level, null before Build or outside Debug..Fatal.
    QLabel* CountLabel(int level) const;

private:
    void ShowCount(int level, int count, bool coloured);

    QWidget* m_Form;
    QWidget* m_Panel;
    LogService* m_Log;
    std::array<QLabel*, kLightCount> m_CountLabels{};  // children of the panel
};
