// IdleGapScore: whether a worker's poll after work is likely to pay. A poll
// saves a sleep and a wake-up only when the next work comes within it; a
// poll that runs out costs its whole length and the wake-up as well, and
// while it runs the poller keeps its CPU from looking free, so the scheduler
// places the peer it wakes on another CPU. The score follows the idle gaps
// between a worker's busy passes: each gap no longer than the poll adds a
// point, each longer one takes two away, and the worker polls while the
// score is at least kPollFrom. A busy worker (gaps of microseconds) reaches
// it after a few gaps and keeps it through a long gap now and then; one
// that serves a packet now and then, a request and its reply with a long
// pause after them, never does.
//
// A plain value kept by its worker thread.
#pragma once

#include <algorithm>

class IdleGapScore {
public:
    static constexpr int kMost = 8;
    static constexpr int kPollFrom = 4;

    // One idle gap, ended by work: shorter than the poll or not.
    void Note(bool withinPoll) { m_Score = withinPoll ? std::min(m_Score + 1, kMost) : std::max(m_Score - 2, 0); }
    bool PollPays() const { return m_Score >= kPollFrom; }

private:
    int m_Score = 0;
};
