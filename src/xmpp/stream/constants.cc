#include "xmpp/stream/constants.h"

namespace vexalo {

// Interned: each constant takes a slot of the name table for the life of the process.
const XmlName kQnXmlnsGr(kNsXmlns, "gr", true);

const XmlName kQnMessage(kNsClient, "message", true);
const XmlName kQnBody(kNsClient, "body", true);
const XmlName kQnThread(kNsClient, "thread", true);
const XmlName kQnPresence(kNsClient, "presence", true);
const XmlName kQnShow(kNsClient, "show", true);
const XmlName kQnStatus(kNsClient, "status", true);
const XmlName kQnPriority(kNsClient, "priority", true);
const XmlName kQnIq(kNsClient, "iq", true);
const XmlName kQnError(kNsClient, "error", true);

const XmlName kQnStream(kNsStream, "stream", true);
const XmlName kQnStreamFeatures(kNsStream, "features", true);
const XmlName kQnStreamError(kNsStream, "error", true);

const XmlName kQnTlsStarttls(kNsTls, "starttls", true);
const XmlName kQnTlsProceed(kNsTls, "proceed", true);

const XmlName kQnSaslMechanisms(kNsSasl, "mechanisms", true);
const XmlName kQnSaslMechanism(kNsSasl, "mechanism", true);
const XmlName kQnSaslAuth(kNsSasl, "auth", true);
const XmlName kQnSaslChallenge(kNsSasl, "challenge", true);
const XmlName kQnSaslAbort(kNsSasl, "abort", true);
const XmlName kQnSaslSuccess(kNsSasl, "success", true);

const XmlName kQnBind(kNsBind, "bind", true);
const XmlName kQnBindResource(kNsBind, "resource", true);
const XmlName kQnBindJid(kNsBind, "jid", true);

const XmlName kQnSession(kNsSession, "session", true);

const XmlName kQnStanzaBadRequest(kNsStanzaErrors, "bad-request", true);
const XmlName kQnStanzaConflict(kNsStanzaErrors, "conflict", true);
const XmlName kQnStanzaFeatureNotImplemented(kNsStanzaErrors, "feature-not-implemented", true);
const XmlName kQnStanzaForbidden(kNsStanzaErrors, "forbidden", true);
const XmlName kQnStanzaGone(kNsStanzaErrors, "gone", true);
const XmlName kQnStanzaInternalServerError(kNsStanzaErrors, "internal-server-error", true);
const XmlName kQnStanzaItemNotFound(kNsStanzaErrors, "item-not-found", true);
const XmlName kQnStanzaJidMalformed(kNsStanzaErrors, "jid-malformed", true);
const XmlName kQnStanzaNotAcceptable(kNsStanzaErrors, "not-acceptable", true);
const XmlName kQnStanzaNotAllowed(kNsStanzaErrors, "not-allowed", true);
const XmlName kQnStanzaPaymentRequired(kNsStanzaErrors, "payment-required", true);
const XmlName kQnStanzaRecipientUnavailable(kNsStanzaErrors, "recipient-unavailable", true);
const XmlName kQnStanzaRedirect(kNsStanzaErrors, "redirect", true);
const XmlName kQnStanzaRegistrationRequired(kNsStanzaErrors, "registration-required", true);
const XmlName kQnStanzaRemoteServerNotFound(kNsStanzaErrors, "remote-server-not-found", true);
const XmlName kQnStanzaRemoteServerTimeout(kNsStanzaErrors, "remote-server-timeout", true);
const XmlName kQnStanzaResourceConstraint(kNsStanzaErrors, "resource-constraint", true);
const XmlName kQnStanzaServiceUnavailable(kNsStanzaErrors, "service-unavailable", true);
const XmlName kQnStanzaSubscriptionRequired(kNsStanzaErrors, "subscription-required", true);
const XmlName kQnStanzaUndefinedCondition(kNsStanzaErrors, "undefined-condition", true);
const XmlName kQnStanzaUnexpectedRequest(kNsStanzaErrors, "unexpected-request", true);
const XmlName kQnStanzaText(kNsStanzaErrors, "text", true);

const XmlName kQnRosterQuery(kNsRoster, "query", true);
const XmlName kQnRosterItem(kNsRoster, "item", true);
const XmlName kQnRosterGroup(kNsRoster, "group", true);

const XmlName kQnVcard(kNsVcard, "vCard", true);
const XmlName kQnVcardFn(kNsVcard, "FN", true);
const XmlName kQnVcardPhoto(kNsVcard, "PHOTO", true);
const XmlName kQnVcardBinval(kNsVcard, "BINVAL", true);

const XmlName kQnVcardUpdateX(kNsVcardUpdate, "x", true);
const XmlName kQnVcardUpdatePhoto(kNsVcardUpdate, "photo", true);

const XmlName kQnAvatarHash(kNsAvatar, "hash", true);
const XmlName kQnAvatarModified(kNsAvatar, "modified", true);

const XmlName kQnDelayX(kNsDelay, "x", true);

const XmlName kQnChatStateActive(kNsChatStates, "active", true);
const XmlName kQnChatStateComposing(kNsChatStates, "composing", true);
const XmlName kQnChatStatePaused(kNsChatStates, "paused", true);
const XmlName kQnChatStateInactive(kNsChatStates, "inactive", true);
const XmlName kQnChatStateGone(kNsChatStates, "gone", true);

const XmlName kQnCapsC(kNsCaps, "c", true);

const XmlName kQnDiscoInfoQuery(kNsDiscoInfo, "query", true);
const XmlName kQnDiscoIdentity(kNsDiscoInfo, "identity", true);
const XmlName kQnDiscoFeature(kNsDiscoInfo, "feature", true);

const XmlName kQnCommand(kNsCommands, "command", true);

const XmlName kQnXmlLang(kNsXmlLang, "lang", true);

const XmlName kQnGrExt(kNsOmbrixRoster, "ext", true);
const XmlName kQnGrT(kNsOmbrixRoster, "t", true);
const XmlName kQnGrW(kNsOmbrixRoster, "w", true);
const XmlName kQnGrInclude(kNsOmbrixRoster, "include", true);
const XmlName kQnGrMc(kNsOmbrixRoster, "mc", true);
const XmlName kQnGrEmc(kNsOmbrixRoster, "emc", true);
const XmlName kQnGrRejected(kNsOmbrixRoster, "rejected", true);
const XmlName kQnGrAutosub(kNsOmbrixRoster, "autosub", true);
const XmlName kQnGrAliasFor(kNsOmbrixRoster, "alias-for", true);
const XmlName kQnGrIncrementMc(kNsOmbrixRoster, "increment-mc", true);
const XmlName kQnGrBoostMc(kNsOmbrixRoster, "boost-mc", true);
const XmlName kQnGrInvitesRemaining(kNsOmbrixRoster, "invites-remaining", true);

const XmlName kQnSubscribeInvitation(kNsSubscribe, "invitation", true);
const XmlName kQnSubscribeName(kNsSubscribe, "name", true);
const XmlName kQnSubscribeBody(kNsSubscribe, "body", true);

const XmlName kQnNoSaveQuery(kNsNoSave, "query", true);
const XmlName kQnNoSaveItem(kNsNoSave, "item", true);

const XmlName kQnMailQuery(kNsMailNotify, "query", true);
const XmlName kQnMailBox(kNsMailNotify, "mailbox", true);
const XmlName kQnMailThreadInfo(kNsMailNotify, "mail-thread-info", true);
const XmlName kQnMailSenders(kNsMailNotify, "senders", true);
const XmlName kQnMailSender(kNsMailNotify, "sender", true);
const XmlName kQnMailSubject(kNsMailNotify, "subject", true);
const XmlName kQnMailSnippet(kNsMailNotify, "snippet", true);
const XmlName kQnMailLabels(kNsMailNotify, "labels", true);
const XmlName kQnMailNewMail(kNsMailNotify, "new-mail", true);

const XmlName kQnUserSetting(kNsSetting, "usersetting", true);
const XmlName kQnSettingAutoAcceptSuggestions(kNsSetting, "autoacceptsuggestions", true);
const XmlName kQnSettingAutoAcceptRequests(kNsSetting, "autoacceptrequests", true);
const XmlName kQnSettingMailNotifications(kNsSetting, "mailnotifications", true);
const XmlName kQnSettingArchivingEnabled(kNsSetting, "archivingenabled", true);

const XmlName kQnSharedStatusQuery(kNsSharedStatus, "query", true);
const XmlName kQnSharedStatus(kNsSharedStatus, "status", true);
const XmlName kQnSharedStatusShow(kNsSharedStatus, "show", true);
const XmlName kQnSharedStatusList(kNsSharedStatus, "status-list", true);

const XmlName kQnRelayInfoQuery(kNsRelayInfo, "query", true);
const XmlName kQnRelayInfoStun(kNsRelayInfo, "stun", true);
const XmlName kQnRelayInfoRelay(kNsRelayInfo, "relay", true);
const XmlName kQnRelayInfoServer(kNsRelayInfo, "server", true);
const XmlName kQnRelayInfoToken(kNsRelayInfo, "token", true);

const XmlName kQnDomainLookup(kNsDomain, "domain-lookup", true);
const XmlName kQnDomain(kNsDomain, "domain", true);
const XmlName kQnDomainResult(kNsDomain, "domain-result", true);

const XmlName kQnCheckUpdate(kNsClientCommand, "check-update", true);

const XmlName kQnCommandsMode(kNsOmbrixCommands, "mode", true);

const XmlName kQnPhoneCallNotification(kNsNotify, "phone-call-notification", true);

const XmlName kQnPluginData(kNsPlugin, "data", true);
const XmlName kQnPlugin(kNsPlugin, "plugin", true);
const XmlName kQnPluginCapability(kNsPlugin, "capability", true);

const XmlName kQnTo("", "to", true);
const XmlName kQnFrom("", "from", true);
const XmlName kQnType("", "type", true);
const XmlName kQnId("", "id", true);
const XmlName kQnCode("", "code", true);
const XmlName kQnName("", "name", true);
const XmlName kQnValue("", "value", true);
const XmlName kQnAction("", "action", true);
const XmlName kQnMechanism("", "mechanism", true);
const XmlName kQnAsk("", "ask", true);
const XmlName kQnJid("", "jid", true);
const XmlName kQnSubscription("", "subscription", true);
const XmlName kQnSource("", "source", true);
const XmlName kQnNode("", "node", true);
const XmlName kQnCategory("", "category", true);
const XmlName kQnVar("", "var", true);
const XmlName kQnResult("", "result", true);
const XmlName kQnVer("", "ver", true);
const XmlName kQnExt("", "ext", true);
const XmlName kQnStamp("", "stamp", true);
const XmlName kQnNewerThanTime("", "newer-than-time", true);
const XmlName kQnNewerThanTid("", "newer-than-tid", true);
const XmlName kQnTid("", "tid", true);
const XmlName kQnFirstIndex("", "first-index", true);
const XmlName kQnTotalMatched("", "total-matched", true);
const XmlName kQnTotalEstimate("", "total-estimate", true);
const XmlName kQnResultTime("", "result-time", true);
const XmlName kQnParticipation("", "participation", true);
const XmlName kQnMessages("", "messages", true);
const XmlName kQnDate("", "date", true);
const XmlName kQnAddress("", "address", true);
const XmlName kQnOriginator("", "originator", true);
const XmlName kQnUnread("", "unread", true);
const XmlName kQnQ("", "q", true);
const XmlName kQnStatusMax("", "status-max", true);
const XmlName kQnStatusListMax("", "status-list-max", true);
const XmlName kQnStatusListContentsMax("", "status-list-contents-max", true);
const XmlName kQnShowAttribute("", "show", true);
const XmlName kQnXmppReachable("", "xmpp-reachable", true);
const XmlName kQnHost("", "host", true);
const XmlName kQnUdp("", "udp", true);
const XmlName kQnVersion("", "version", true);
const XmlName kQnEncoding("", "encoding", true);
const XmlName kQnPort("", "port", true);
const XmlName kQnTransport("", "transport", true);
const XmlName kQnUsername("", "username", true);
const XmlName kQnPassword("", "password", true);
const XmlName kQnExpires("", "expires", true);
const XmlName kQnRestricted("", "restricted", true);

const XmlName kQnExtDiscoServices(kNsExtDisco, "services", true);
const XmlName kQnExtDiscoService(kNsExtDisco, "service", true);
const XmlName kQnExtDiscoCredentials(kNsExtDisco, "credentials", true);

}  // namespace vexalo
