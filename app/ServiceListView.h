// The live list of one listening service on the watch page: one row per
// server object the service ever created (one per connection slot used), in
// creation order, online or not, with its backlog, its traffic rates and the
// state of the slot's connection. Rows are built when the list asks for them.
// Window thread only; the values belong to other threads and may be a moment
// old.
#pragma once

#include <array>

class INetProcess;

namespace plat {
class IListView;
struct ListRow;
}  // namespace plat

class ServiceListView {
public:
    static constexpr int kColumnCount = 9;
    using Captions = std::array<const char*, kColumnCount>;

    static const Captions& LoginServerCaptions();
    static const Captions& GameServerCaptions();
    static const Captions& RouteServerCaptions();

    // Neither pointer is owned.
    ServiceListView(INetProcess* service, plat::IListView* listView, const Captions& captions);
    ServiceListView(const ServiceListView&) = delete;
    ServiceListView& operator=(const ServiceListView&) = delete;

    void Prepare();
    // The row count follows the service's server objects; known rows are
    // kept, the visible ones asked for again.
    void Refresh();
    // False when the service has no object at index: the row stays as it was.
    bool FillRow(int index, plat::ListRow& row) const;

private:
    INetProcess* m_Service;
    plat::IListView* m_ListView;
    const Captions& m_Captions;
};
