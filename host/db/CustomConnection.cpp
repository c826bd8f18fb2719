// TCustomConnection: Connected, the four connection events, streamed Connected and the
// registered clients.
#include "host/db/CustomConnection.h"

#include <algorithm>

#include "host/SysUtils.h"
#include "host/db/DataSet.h"
#include "host/PropertyRegistry.h"

namespace ostra {

[[maybe_unused]] const bool kCustomConnectionPublished = Publish<TCustomConnection, TComponent>();

TCustomConnection::~TCustomConnection() = default;

void TCustomConnection::SetConnected(bool Value) {
    if (Value && ComponentState().Contains(csReading)) {
        // Applied by Loaded, once every reference of the stream is resolved.
        FStreamedConnected = true;
        return;
    }
    if (Value == GetConnected()) return;
    if (Value) {
        if (BeforeConnect) BeforeConnect(this);
        DoConnect();
        SendConnectEvent(true);
        if (AfterConnect) AfterConnect(this);
    } else {
        if (BeforeDisconnect) BeforeDisconnect(this);
        SendConnectEvent(false);
        DoDisconnect();
        if (AfterDisconnect) AfterDisconnect(this);
    }
}

void TCustomConnection::Loaded() {
    TComponent::Loaded();
    if (FStreamedConnected) {
        FStreamedConnected = false;
        SetConnected(true);
    }
}

void TCustomConnection::RegisterClient(TObject* Client, TConnectChangeEvent Event) {
    if (!Client) return;
    auto it = std::find_if(FClients.begin(), FClients.end(), [Client](const TClient& c) { return c.Client == Client; });
    if (it != FClients.end()) {
        it->Event = std::move(Event);
        return;
    }
    FClients.push_back({Client, dynamic_cast<TDataSet*>(Client), std::move(Event)});
}

void TCustomConnection::UnRegisterClient(TObject* Client) {
    auto it = std::find_if(FClients.begin(), FClients.end(), [Client](const TClient& c) { return c.Client == Client; });
    if (it != FClients.end()) FClients.erase(it);
}

TDataSet* TCustomConnection::GetDataSet(int Index) const {
    int seen = 0;
    for (const TClient& c : FClients)
        if (c.DataSet && seen++ == Index) return c.DataSet;
    throw EListError(Format("List index out of bounds (%d)", {Index}));
}

int TCustomConnection::GetDataSetCount() const {
    return static_cast<int>(std::count_if(FClients.begin(), FClients.end(), [](const TClient& c) { return c.DataSet; }));
}

void TCustomConnection::SendConnectEvent(bool Connecting) {
    // A client's event may unregister clients: walk a copy.
    std::vector<TClient> clients = FClients;
    for (const TClient& c : clients)
        if (c.Event) c.Event(this, Connecting);
}

}  // namespace ostra
