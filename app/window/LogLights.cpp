#include "app/window/LogLights.h"

#include <QLabel>

namespace {

constexpr QRgb kLevelColours[kLogLevelCount] = {
    0xAAAAAA, 0x87CEEB, 0x800080, 0x0000FF, 0x00FFFF, 0x008000, 0xFFD700, 0xFF4500, 0xFF0000,
};
constexpr QRgb kNoEntriesColour = 0xAAAAAA;
constexpr QRgb kPanelColour = 0xF0F0F0;

void SetBackground(QLabel* label, const QColor& colour) {
    label->setStyleSheet(QStringLiteral("QLabel { background-color: %1; color: black; }").arg(colour.name()));
}

}  // namespace

LogLights::LogLights(LogService* log, QWidget* form, QWidget* panel) : m_Form(form), m_Panel(panel), m_Log(log) {}

LogLights::~LogLights() {
    // The count labels go with the lights; the name labels stay with the form.
    for (QLabel*& label : m_CountLabels) {
        delete label;
        label = nullptr;
    }
}

QColor LogLights::LevelColour(int level) {
    return (level >= 0 && level < kLogLevelCount) ? QColor(kLevelColours[level]) : QColor(kNoEntriesColour);
}

void LogLights::Build() {
    int left = kFirstLeft;
    for (int level = kFirstLevel; level <= kLastLevel; ++level) {
        auto* count = new QLabel(QStringLiteral("0"), m_Panel);
        count->setAlignment(Qt::AlignCenter);
        QFont countFont = count->font();
        countFont.setPointSize(10);
        countFont.setBold(true);
        count->setFont(countFont);
        count->setGeometry(left, kTop, kCountWidth, kCountHeight);
        SetBackground(count, QColor(kNoEntriesColour));
        count->setObjectName(QStringLiteral("lblLogCount%1").arg(level));
        m_CountLabels[static_cast<size_t>(level - kFirstLevel)] = count;

        auto* name = new QLabel(QString::fromUtf8(kLogLevelNames[level]), m_Panel);
        QFont nameFont = name->font();
        nameFont.setPixelSize(kNameHeight + 1);
        name->setFont(nameFont);
        name->setStyleSheet(QStringLiteral("QLabel { color: %1; }").arg(LevelColour(level).name()));
        name->setGeometry(left, kTop + kCountHeight, kCountWidth + kGap, kNameHeight + 2);
        name->show();
        count->show();
        left += kGap + kCountWidth;
    }
    m_Panel->setFixedSize(left, kCountHeight + 2 * kGap + kNameHeight);
    m_Panel->setAutoFillBackground(true);
    QPalette palette = m_Panel->palette();
    palette.setColor(QPalette::Window, QColor(kPanelColour));
    m_Panel->setPalette(palette);
}

void LogLights::Refresh() {
    if (m_Log == nullptr) return;
    for (int level = kFirstLevel; level <= kLastLevel; ++level) {
        const int count = m_Log->GetLevelCount(level);
        if (count != 0) ShowCount(level, count, true);
    }
}

void LogLights::SetCounts(int debug, int pyWarn, int warn, int design, int pyErr, int error, int fatal) {
    const int counts[kLightCount] = {debug, pyWarn, warn, design, pyErr, error, fatal};
    for (int i = 0; i < kLightCount; ++i) ShowCount(kFirstLevel + i, counts[i], counts[i] != 0);
}

QLabel* LogLights::CountLabel(int level) const {
    if (level < kFirstLevel || level > kLastLevel) return nullptr;
    return m_CountLabels[static_cast<size_t>(level - kFirstLevel)];
}

void LogLights::ShowCount(int level, int count, bool coloured) {
    QLabel* label = CountLabel(level);
    if (label == nullptr) return;
    label->setText(QString::number(count));
    SetBackground(label, coloured ? LevelColour(level) : QColor(kNoEntriesColour));
}
