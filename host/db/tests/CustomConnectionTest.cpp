// TCustomConnection: Connected through DoConnect/DoDisconnect/GetConnected inside the four
// events, the clients' connect events, registered datasets and a streamed Connected.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/ClassRegistry.h"
#include "host/ComponentText.h"
#include "host/PropertyRegistry.h"
#include "host/db/CustomConnection.h"
#include "host/db/tests/support/VectorDataSet.h"

namespace ostra::test {

// A connection that logs its three slots; DoConnect fails while FailConnect is set.
class TTestConnection : public TCustomConnection {
public:
    explicit TTestConnection(TComponent* AOwner) : TCustomConnection(AOwner) {}
    ~TTestConnection() override { Close(); }

    std::vector<std::string> Log;
    bool FailConnect = false;

    void Loaded() override {
        Log.push_back("Loaded");
        TCustomConnection::Loaded();
    }

protected:
    void DoConnect() override {
        Log.push_back("DoConnect");
        if (FailConnect) throw EDatabaseError("cannot connect");
        FConnected = true;
    }
    void DoDisconnect() override {
        Log.push_back("DoDisconnect");
        FConnected = false;
    }
    bool GetConnected() const override { return FConnected; }

private:
    bool FConnected = false;
};

[[maybe_unused]] const bool kTestConnectionPublished =
    Publish<TTestConnection, TCustomConnection>()
        .Boolean("Connected", &TTestConnection::Connected, &TTestConnection::SetConnected)
        .Default(false);

namespace {

TEST(CustomConnection, ConnectedRunsTheSlotsInsideTheFourEvents) {
    TTestConnection connection(nullptr);
    TVectorDataSet first(nullptr), second(nullptr);
    TObject other;
    auto on = [&connection](const char* name) {
        return [&connection, name](TObject* sender) {
            EXPECT_EQ(sender, &connection);
            connection.Log.push_back(name);
        };
    };
    connection.BeforeConnect = on("BeforeConnect");
    connection.AfterConnect = on("AfterConnect");
    connection.BeforeDisconnect = on("BeforeDisconnect");
    connection.AfterDisconnect = on("AfterDisconnect");
    connection.RegisterClient(&first, [&](TObject*, bool connecting) {
        connection.Log.push_back(std::string("first ") + (connecting ? "on" : "off"));
    });
    connection.RegisterClient(&other, [&](TObject*, bool connecting) {
        connection.Log.push_back(std::string("other ") + (connecting ? "on" : "off"));
    });
    connection.RegisterClient(&second);

    connection.Open();
    connection.SetConnected(true);  // no change: nothing happens
    EXPECT_TRUE(connection.Connected());
    connection.Close();
    EXPECT_FALSE(connection.Connected());
    EXPECT_EQ(connection.Log,
              (std::vector<std::string>{"BeforeConnect", "DoConnect", "first on", "other on", "AfterConnect",
                                        "BeforeDisconnect", "first off", "other off", "DoDisconnect",
                                        "AfterDisconnect"}));

    EXPECT_EQ(connection.DataSetCount(), 2);
    EXPECT_EQ(connection.DataSets(0), &first);
    EXPECT_EQ(connection.DataSets(1), &second);
    EXPECT_THROW(connection.DataSets(2), EListError);
    connection.UnRegisterClient(&first);
    EXPECT_EQ(connection.DataSetCount(), 1);
    EXPECT_EQ(connection.DataSets(0), &second);
}

TEST(CustomConnection, AFailedConnectFiresNoAfterEvents) {
    TTestConnection connection(nullptr);
    bool after = false;
    connection.AfterConnect = [&](TObject*) { after = true; };
    connection.FailConnect = true;
    EXPECT_THROW(connection.Open(), EDatabaseError);
    EXPECT_FALSE(after);
    EXPECT_FALSE(connection.Connected());
    connection.FailConnect = false;
    connection.Open();
    EXPECT_TRUE(after);
}

TEST(CustomConnection, AStreamedConnectedIsAppliedWhenLoaded) {
    RegisterClass<TTestConnection>();
    TTestConnection connection(nullptr);
    TextToComponent("object Conn: TTestConnection\r\n  Connected = True\r\nend\r\n", &connection);
    EXPECT_TRUE(connection.Connected());
    EXPECT_EQ(connection.Log, (std::vector<std::string>{"Loaded", "DoConnect"}));
    EXPECT_EQ(connection.Name(), "Conn");
    EXPECT_NE(ComponentToText(&connection).find("Connected = True"), std::string::npos);
}

}  // namespace
}  // namespace ostra::test
