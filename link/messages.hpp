// The terminal link's user-visible texts: exchange failures, the listener and
// connection, remote files and transfers, the device test.
#pragma once

#include "base/messages.hpp"

namespace vtsd::link_text {

// Exchanges.
extern const Msg kExchangeBroken;     // reset by the terminal, or no answer in time
extern const Msg kExchangeUnknown;    // any other send or receive failure
extern const Msg kDisconnected;       // the terminal closed the connection
extern const Msg kReplyMismatch;      // a reply the outstanding request cannot have

// Listener and connection.
extern const Msg kAlreadyConnected;
extern const Msg kLibraryStart;
extern const Msg kSocketCreate;
extern const Msg kPortUnavailable;
extern const Msg kAddressNotIPv4;     // the address setting is no dotted IPv4 address
extern const Msg kListenFailed;
extern const Msg kAcceptFailed;
extern const Msg kOpenTimeout;
extern const Msg kCloseNotConnected;
extern const Msg kCloseWrongId;
extern const Msg kDisconnectRefused;
extern const Msg kCloseWrongType;
extern const Msg kInfoCaption;        // caption of the "run the exchange" box
extern const Msg kInfoText;           // its text

// Remote files and transfers.
extern const Msg kValueTooShort;
extern const Msg kCreateRemoteFailed;
extern const Msg kOpenRemoteFailed;
extern const Msg kSendNoHandle;
extern const Msg kSendMissing;
extern const Msg kSendOpenFailed;
extern const Msg kPacketSize;
extern const Msg kReceiveNoHandle;
extern const Msg kReceiveCreateFailed;
extern const Msg kFileSize;
extern const Msg kReceiveWriteFailed;
extern const Msg kSendReadFailed;
extern const Msg kWriteRefused;       // "WriteFile" answered 0 or less
extern const Msg kRemoteMissing;
extern const Msg kRemoteAppeared;  // a send over a file the fetch found missing or empty

// Device test.
extern const Msg kTestTimeout;
extern const Msg kTestNotConnected;
extern const Msg kTestModel;

}  // namespace vtsd::link_text
