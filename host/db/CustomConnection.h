// TCustomConnection: the base of connection components (the engine's database component). Setting
// Connected runs BeforeConnect, DoConnect, the clients' connect events and AfterConnect (or
// BeforeDisconnect, the clients' events, DoDisconnect and AfterDisconnect); a descendant supplies
// DoConnect, DoDisconnect and GetConnected. While the component is read from a stream, a True
// Connected is remembered and applied by Loaded. Datasets and other clients register with the
// connection; DataSets/DataSetCount list the registered datasets.
//
// The base destructor cannot reach DoDisconnect: a descendant disconnects in its own destructor.
#pragma once
#include <functional>
#include <vector>

#include "host/Component.h"
#include "host/StringList.h"

namespace ostra {

class TDataSet;

// A client's notice that the connection opened (Connecting true) or is about to close.
using TConnectChangeEvent = std::function<void(TObject* Sender, bool Connecting)>;

// A connection to a data store.
class TCustomConnection : public TComponent {
public:
    explicit TCustomConnection(TComponent* AOwner) : TComponent(AOwner) {}
    ~TCustomConnection() override;

    void Open() { SetConnected(true); }
    void Close() { SetConnected(false); }
    bool Connected() const { return GetConnected(); }
    // Does nothing when the value equals GetConnected (see the file comment for the order).
    void SetConnected(bool Value);

    // The registered datasets, in registration order.
    TDataSet* DataSets(int Index) const { return GetDataSet(Index); }
    int DataSetCount() const { return GetDataSetCount(); }
    // Registers a client (a dataset is listed in DataSets) with an optional connect event;
    // registering again replaces the event.
    virtual void RegisterClient(TObject* Client, TConnectChangeEvent Event = nullptr);
    virtual void UnRegisterClient(TObject* Client);

    void Loaded() override;

    TNotifyEvent BeforeConnect, AfterConnect, BeforeDisconnect, AfterDisconnect;

protected:
    virtual void DoConnect() {}
    virtual void DoDisconnect() {}
    virtual bool GetConnected() const { return false; }
    // The Index-th registered dataset; EListError "List index out of bounds (%d)" for a bad index.
    virtual TDataSet* GetDataSet(int Index) const;
    virtual int GetDataSetCount() const;
    // Calls every client's connect event.
    void SendConnectEvent(bool Connecting);
    bool StreamedConnected() const { return FStreamedConnected; }

private:
    struct TClient {
        TObject* Client;
        TDataSet* DataSet;  // the client as a dataset, or null
        TConnectChangeEvent Event;
    };
    std::vector<TClient> FClients;
    bool FStreamedConnected = false;
};

}  // namespace ostra
