#pragma once

#include <string_view>

#include "xml/xmlconstants.h"
#include "xml/xmlname.h"

namespace vexalo {

// The protocol's vocabulary. Strings are constant expressions, usable at any time; the name
// constants are built during static initialisation, entered in the name table, so that names
// parsed later share their records.

// Namespaces.
inline constexpr std::string_view kNsClient = "jabber:client";
inline constexpr std::string_view kNsStream = "http://etherx.jabber.org/streams";
inline constexpr std::string_view kNsTls = "urn:ietf:params:xml:ns:xmpp-tls";
inline constexpr std::string_view kNsSasl = "urn:ietf:params:xml:ns:xmpp-sasl";
inline constexpr std::string_view kNsBind = "urn:ietf:params:xml:ns:xmpp-bind";
inline constexpr std::string_view kNsSession = "urn:ietf:params:xml:ns:xmpp-session";
inline constexpr std::string_view kNsStanzaErrors = "urn:ietf:params:xml:ns:xmpp-stanzas";
inline constexpr std::string_view kNsRoster = "jabber:iq:roster";
inline constexpr std::string_view kNsVcard = "vcard-temp";
inline constexpr std::string_view kNsVcardUpdate = "vcard-temp:x:update";
inline constexpr std::string_view kNsAvatar = "ombrix:avatar";
inline constexpr std::string_view kNsDelay = "jabber:x:delay";
inline constexpr std::string_view kNsChatStates = "http://jabber.org/protocol/chatstates";
inline constexpr std::string_view kNsCaps = "http://jabber.org/protocol/caps";
inline constexpr std::string_view kNsDiscoInfo = "http://jabber.org/protocol/disco#info";
inline constexpr std::string_view kNsCommands = "http://jabber.org/protocol/commands";
inline constexpr std::string_view kNsXmlLang = kNsXml;
inline constexpr std::string_view kNsOmbrixRoster = "ombrix:roster";
inline constexpr std::string_view kNsSubscribe = "ombrix:subscribe";
inline constexpr std::string_view kNsNoSave = "ombrix:nosave";
inline constexpr std::string_view kNsMailNotify = "ombrix:mail:notify";
inline constexpr std::string_view kNsSetting = "ombrix:setting";
inline constexpr std::string_view kNsSharedStatus = "ombrix:shared-status";
inline constexpr std::string_view kNsRelayInfo = "ombrix:relayinfo";
inline constexpr std::string_view kNsDomain = "ombrix:domain";
inline constexpr std::string_view kNsClientCommand = "ombrix:client:command";
inline constexpr std::string_view kNsOmbrixCommands = "ombrix:commands";
inline constexpr std::string_view kNsNotify = "ombrix:notify";
inline constexpr std::string_view kNsPlugin = "ombrix:plugin";
// External service discovery: the STUN and TURN services a standard server announces.
inline constexpr std::string_view kNsExtDisco = "urn:xmpp:extdisco:2";

// The "gr" prefix declaration put on roster queries.
extern const XmlName kQnXmlnsGr;

// In kNsClient.
extern const XmlName kQnMessage;
extern const XmlName kQnBody;
extern const XmlName kQnThread;
extern const XmlName kQnPresence;
extern const XmlName kQnShow;
extern const XmlName kQnStatus;
extern const XmlName kQnPriority;
extern const XmlName kQnIq;
extern const XmlName kQnError;

// In kNsStream.
extern const XmlName kQnStream;
extern const XmlName kQnStreamFeatures;
extern const XmlName kQnStreamError;

// In kNsTls.
extern const XmlName kQnTlsStarttls;
extern const XmlName kQnTlsProceed;

// In kNsSasl.
extern const XmlName kQnSaslMechanisms;
extern const XmlName kQnSaslMechanism;
extern const XmlName kQnSaslAuth;
extern const XmlName kQnSaslChallenge;
extern const XmlName kQnSaslAbort;
extern const XmlName kQnSaslSuccess;

// In kNsBind.
extern const XmlName kQnBind;
extern const XmlName kQnBindResource;
extern const XmlName kQnBindJid;

// In kNsSession.
extern const XmlName kQnSession;

// In kNsStanzaErrors.
extern const XmlName kQnStanzaBadRequest;
extern const XmlName kQnStanzaConflict;
extern const XmlName kQnStanzaFeatureNotImplemented;
extern const XmlName kQnStanzaForbidden;
extern const XmlName kQnStanzaGone;
extern const XmlName kQnStanzaInternalServerError;
extern const XmlName kQnStanzaItemNotFound;
extern const XmlName kQnStanzaJidMalformed;
extern const XmlName kQnStanzaNotAcceptable;
extern const XmlName kQnStanzaNotAllowed;
extern const XmlName kQnStanzaPaymentRequired;
extern const XmlName kQnStanzaRecipientUnavailable;
extern const XmlName kQnStanzaRedirect;
extern const XmlName kQnStanzaRegistrationRequired;
extern const XmlName kQnStanzaRemoteServerNotFound;
extern const XmlName kQnStanzaRemoteServerTimeout;
extern const XmlName kQnStanzaResourceConstraint;
extern const XmlName kQnStanzaServiceUnavailable;
extern const XmlName kQnStanzaSubscriptionRequired;
extern const XmlName kQnStanzaUndefinedCondition;
extern const XmlName kQnStanzaUnexpectedRequest;
extern const XmlName kQnStanzaText;

// In kNsRoster.
extern const XmlName kQnRosterQuery;
extern const XmlName kQnRosterItem;
extern const XmlName kQnRosterGroup;

// In kNsVcard.
extern const XmlName kQnVcard;
extern const XmlName kQnVcardFn;
extern const XmlName kQnVcardPhoto;
extern const XmlName kQnVcardBinval;

// In kNsVcardUpdate.
extern const XmlName kQnVcardUpdateX;
extern const XmlName kQnVcardUpdatePhoto;

// In kNsAvatar.
extern const XmlName kQnAvatarHash;
extern const XmlName kQnAvatarModified;

// In kNsDelay.
extern const XmlName kQnDelayX;

// In kNsChatStates.
extern const XmlName kQnChatStateActive;
extern const XmlName kQnChatStateComposing;
extern const XmlName kQnChatStatePaused;
extern const XmlName kQnChatStateInactive;
extern const XmlName kQnChatStateGone;

// In kNsCaps.
extern const XmlName kQnCapsC;

// In kNsDiscoInfo.
extern const XmlName kQnDiscoInfoQuery;
extern const XmlName kQnDiscoIdentity;
extern const XmlName kQnDiscoFeature;

// In kNsCommands.
extern const XmlName kQnCommand;

// In kNsXmlLang.
extern const XmlName kQnXmlLang;

// In kNsOmbrixRoster.
extern const XmlName kQnGrExt;
extern const XmlName kQnGrT;
extern const XmlName kQnGrW;
extern const XmlName kQnGrInclude;
extern const XmlName kQnGrMc;
extern const XmlName kQnGrEmc;
extern const XmlName kQnGrRejected;
extern const XmlName kQnGrAutosub;
extern const XmlName kQnGrAliasFor;
extern const XmlName kQnGrIncrementMc;
extern const XmlName kQnGrBoostMc;
extern const XmlName kQnGrInvitesRemaining;

// In kNsSubscribe.
extern const XmlName kQnSubscribeInvitation;
extern const XmlName kQnSubscribeName;
extern const XmlName kQnSubscribeBody;

// In kNsNoSave.
extern const XmlName kQnNoSaveQuery;
extern const XmlName kQnNoSaveItem;

// In kNsMailNotify.
extern const XmlName kQnMailQuery;
extern const XmlName kQnMailBox;
extern const XmlName kQnMailThreadInfo;
extern const XmlName kQnMailSenders;
extern const XmlName kQnMailSender;
extern const XmlName kQnMailSubject;
extern const XmlName kQnMailSnippet;
extern const XmlName kQnMailLabels;
extern const XmlName kQnMailNewMail;

// In kNsSetting.
extern const XmlName kQnUserSetting;
extern const XmlName kQnSettingAutoAcceptSuggestions;
extern const XmlName kQnSettingAutoAcceptRequests;
extern const XmlName kQnSettingMailNotifications;
extern const XmlName kQnSettingArchivingEnabled;

// In kNsSharedStatus.
extern const XmlName kQnSharedStatusQuery;
extern const XmlName kQnSharedStatus;
extern const XmlName kQnSharedStatusShow;
extern const XmlName kQnSharedStatusList;

// In kNsRelayInfo.
extern const XmlName kQnRelayInfoQuery;
extern const XmlName kQnRelayInfoStun;
extern const XmlName kQnRelayInfoRelay;
extern const XmlName kQnRelayInfoServer;
extern const XmlName kQnRelayInfoToken;

// In kNsDomain.
extern const XmlName kQnDomainLookup;
extern const XmlName kQnDomain;
extern const XmlName kQnDomainResult;

// In kNsClientCommand.
extern const XmlName kQnCheckUpdate;

// In kNsOmbrixCommands.
extern const XmlName kQnCommandsMode;

// In kNsNotify.
extern const XmlName kQnPhoneCallNotification;

// In kNsPlugin.
extern const XmlName kQnPluginData;
extern const XmlName kQnPlugin;
extern const XmlName kQnPluginCapability;

// In kNsExtDisco.
extern const XmlName kQnExtDiscoServices;
extern const XmlName kQnExtDiscoService;
extern const XmlName kQnExtDiscoCredentials;

// Names in no namespace (attributes). "xmlns" is kQnXmlns.
extern const XmlName kQnTo;
extern const XmlName kQnFrom;
extern const XmlName kQnType;
extern const XmlName kQnId;
extern const XmlName kQnCode;
extern const XmlName kQnName;
extern const XmlName kQnValue;
extern const XmlName kQnAction;
extern const XmlName kQnMechanism;
extern const XmlName kQnAsk;
extern const XmlName kQnJid;
extern const XmlName kQnSubscription;
extern const XmlName kQnSource;
extern const XmlName kQnNode;
extern const XmlName kQnCategory;
extern const XmlName kQnVar;
extern const XmlName kQnResult;
extern const XmlName kQnVer;
extern const XmlName kQnExt;
extern const XmlName kQnStamp;
extern const XmlName kQnNewerThanTime;
extern const XmlName kQnNewerThanTid;
extern const XmlName kQnTid;
extern const XmlName kQnFirstIndex;
extern const XmlName kQnTotalMatched;
extern const XmlName kQnTotalEstimate;
extern const XmlName kQnResultTime;
extern const XmlName kQnParticipation;
extern const XmlName kQnMessages;
extern const XmlName kQnDate;
extern const XmlName kQnAddress;
extern const XmlName kQnOriginator;
extern const XmlName kQnUnread;
extern const XmlName kQnQ;
extern const XmlName kQnStatusMax;
extern const XmlName kQnStatusListMax;
extern const XmlName kQnStatusListContentsMax;
extern const XmlName kQnShowAttribute;
extern const XmlName kQnXmppReachable;
extern const XmlName kQnHost;
extern const XmlName kQnUdp;
extern const XmlName kQnVersion;
extern const XmlName kQnEncoding;
extern const XmlName kQnPort;
extern const XmlName kQnTransport;
extern const XmlName kQnUsername;
extern const XmlName kQnPassword;
extern const XmlName kQnExpires;
extern const XmlName kQnRestricted;

// Iq types.
inline constexpr std::string_view kStrGet = "get";
inline constexpr std::string_view kStrSet = "set";
inline constexpr std::string_view kStrResult = "result";
inline constexpr std::string_view kStrError = "error";

// Presence types; "subscribe" is also the roster's ask value.
inline constexpr std::string_view kStrUnavailable = "unavailable";
inline constexpr std::string_view kStrSubscribe = "subscribe";
inline constexpr std::string_view kStrSubscribed = "subscribed";
inline constexpr std::string_view kStrUnsubscribe = "unsubscribe";
inline constexpr std::string_view kStrUnsubscribed = "unsubscribed";
inline constexpr std::string_view kStrProbe = "probe";
inline constexpr std::string_view kStrInvisible = "invisible";

// Roster subscription.
inline constexpr std::string_view kStrFrom = "from";
inline constexpr std::string_view kStrTo = "to";
inline constexpr std::string_view kStrBoth = "both";
inline constexpr std::string_view kStrRemove = "remove";

// Show values; shared status also uses "default".
inline constexpr std::string_view kStrAway = "away";
inline constexpr std::string_view kStrChat = "chat";
inline constexpr std::string_view kStrDnd = "dnd";
inline constexpr std::string_view kStrXa = "xa";
inline constexpr std::string_view kStrDefault = "default";

// Ad-hoc command values.
inline constexpr std::string_view kStrExecute = "execute";
inline constexpr std::string_view kStrCancel = "cancel";
inline constexpr std::string_view kStrCompleted = "completed";
inline constexpr std::string_view kStrExecuting = "executing";
inline constexpr std::string_view kStrCanceled = "canceled";

// Client command nodes of kNsOmbrixCommands.
inline constexpr std::string_view kStrPhoneCallStart = "phone-call-start";
inline constexpr std::string_view kStrPhoneCallEnd = "phone-call-end";
inline constexpr std::string_view kStrPhoneCallMute = "phone-call-mute";
inline constexpr std::string_view kStrPhoneCallEnum = "phone-call-enum";
inline constexpr std::string_view kStrPhoneCallNotifyListen = "phone-call-notify-listen";
inline constexpr std::string_view kStrChatShowNotification = "chat-show-notification";
inline constexpr std::string_view kStrLocateClient = "locate-client";

// Notification types of kNsNotify.
inline constexpr std::string_view kStrPhoneCallConnected = "phone-call-connected";
inline constexpr std::string_view kStrPhoneCallDisconnected = "phone-call-disconnected";
inline constexpr std::string_view kStrPhoneCallIncoming = "phone-call-incoming";

// The mail query's search string.
inline constexpr std::string_view kStrMailSearchQuery =
    "(!label:^s) (!label:^k) ((label:^u) (label:^i) (!label:^vm))";

// The service's domains. Defaults; deployments pointed at another server override them.
// Accounts of the service itself.
inline constexpr std::string_view kDefaultDomain = "ombrix.com";
// Accounts whose JID domain is the web-mail service's, main and alternative form.
inline constexpr std::string_view kWebMailDomain = "lettrio.com";
inline constexpr std::string_view kWebMailAlternativeDomain = "postalia.com";
// XMPP host to connect to when nothing better is known.
inline constexpr std::string_view kFallbackXmppHost = "xmpp.ombrix.com";

// Entity capabilities of our client family: the caps node announced in presence, and the
// features behind its ext keys (answered by DiscoInfoResponder).
inline constexpr std::string_view kCapsNode = "http://www.ombrix.com/xmpp/client/caps";
inline constexpr std::string_view kFeatureSession = "http://www.ombrix.com/xmpp/protocol/session";
inline constexpr std::string_view kFeatureVoice = "http://www.ombrix.com/xmpp/protocol/voice/v1";

}  // namespace vexalo
