// The admin listener's two pages, built from the relay's figures: the health
// answer and the Prometheus text. Pure functions of their input, so any
// thread may call them.
#pragma once

#include <string>

#include "admin/RelayFigures.h"

// 200 with "ok\n", or 503 with the one-line reason.
struct HealthPage {
    int status = 503;
    std::string body;
};

HealthPage BuildHealthPage(const RelayHealth& health);
std::string BuildMetricsPage(const RelaySnapshot& snapshot);
