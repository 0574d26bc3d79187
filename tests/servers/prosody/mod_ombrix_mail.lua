-- New-mail notification ("ombrix:mail:notify") over a mailbox kept in memory per account.
-- A query answers the unread conversations newer than the given time or thread id; a new
-- mail is pushed to every resource of the account as <new-mail/>.
--
-- Mail "arrives" through an iq from an admin account (the tests' stand-in for the mail
-- system): <iq type='set' to='HOST'><deliver xmlns='urn:vexalo:test:mail' to='user@HOST'
-- subject='...' snippet='...' address='sender@...' name='...' labels='^u|^i'/></iq>
local st = require "util.stanza";
local jid_util = require "util.jid";
local usermanager = require "core.usermanager";
local time_now = require "util.time".now;

local xmlns = "ombrix:mail:notify";
local xmlns_deliver = "urn:vexalo:test:mail";
local unread_inbox_query = "(!label:^s) (!label:^k) ((label:^u) (label:^i) (!label:^vm))";

local mailboxes = {};  -- username -> list of threads
local next_tid = 1000;
local push_counter = 0;

module:add_feature(xmlns);

local function now_ms()
	return math.floor(time_now() * 1000);
end

-- A whole decimal integer, or nil.
local function parse_integer(text)
	if text == nil or not text:match("^%-?%d+$") then return nil; end
	return math.tointeger(tonumber(text));
end

local function has_label(thread, label)
	for _, l in ipairs(thread.labels) do
		if l == label then return true; end
	end
	return false;
end

local function matches(thread, q)
	if q ~= unread_inbox_query then return true; end
	return has_label(thread, "^u") and has_label(thread, "^i") and not has_label(thread, "^s")
		and not has_label(thread, "^k") and not has_label(thread, "^vm");
end

local function escape_label(label)
	return (label:gsub("[\\|]", "\\%0"));
end

module:hook("iq-get/self/" .. xmlns .. ":query", function (event)
	local origin, stanza = event.origin, event.stanza;
	local query = stanza.tags[1];
	local newer_time, newer_tid = 0, 0;
	if query.attr["newer-than-time"] then
		newer_time = parse_integer(query.attr["newer-than-time"]);
	end
	if query.attr["newer-than-tid"] then
		newer_tid = parse_integer(query.attr["newer-than-tid"]);
	end
	if newer_time == nil or newer_tid == nil then
		origin.send(st.error_reply(stanza, "modify", "bad-request", "newer-than values must be integers"));
		return true;
	end
	local found = {};
	for _, thread in ipairs(mailboxes[origin.username] or {}) do
		local newer = (newer_time == 0 and newer_tid == 0) or thread.date > newer_time or thread.tid > newer_tid;
		if newer and matches(thread, query.attr.q) then found[#found + 1] = thread; end
	end
	table.sort(found, function (a, b) return a.date > b.date or (a.date == b.date and a.tid > b.tid); end);

	local mailbox = st.reply(stanza):tag("mailbox", { xmlns = xmlns,
		["result-time"] = tostring(now_ms()), ["total-matched"] = tostring(#found),
		["total-estimate"] = "0", ["first-index"] = "0" });
	for _, thread in ipairs(found) do
		local labels = {};
		for i, label in ipairs(thread.labels) do labels[i] = escape_label(label); end
		mailbox:tag("mail-thread-info", { tid = tostring(thread.tid), date = tostring(thread.date),
				messages = tostring(thread.messages), participation = "0" })
			:tag("senders"):tag("sender", { address = thread.address, name = thread.name,
				originator = "1", unread = "1" }):up():up()
			:text_tag("labels", table.concat(labels, "|"))
			:text_tag("subject", thread.subject)
			:text_tag("snippet", thread.snippet)
			:up();
	end
	origin.send(mailbox);
	return true;
end);

local function push_new_mail(username)
	local bare = username .. "@" .. module.host;
	local user = prosody.bare_sessions[bare];
	if not user then return; end
	for _, session in pairs(user.sessions) do
		if session.full_jid then
			push_counter = push_counter + 1;
			session.send(st.iq({ type = "set", to = session.full_jid, from = bare,
					id = "mail-push-" .. push_counter })
				:tag("new-mail", { xmlns = xmlns }));
		end
	end
end

module:hook("iq-set/host/" .. xmlns_deliver .. ":deliver", function (event)
	local origin, stanza = event.origin, event.stanza;
	if not usermanager.is_admin(jid_util.bare(stanza.attr.from or origin.full_jid or ""), module.host) then
		origin.send(st.error_reply(stanza, "auth", "forbidden"));
		return true;
	end
	local deliver = stanza.tags[1];
	local node, host = jid_util.split(deliver.attr.to or "");
	if not node or host ~= module.host or not usermanager.user_exists(node, host) then
		origin.send(st.error_reply(stanza, "modify", "item-not-found", "no such mailbox"));
		return true;
	end
	next_tid = next_tid + 1;
	local labels = {};
	for label in (deliver.attr.labels or "^u|^i"):gmatch("[^|]+") do labels[#labels + 1] = label; end
	local mailbox = mailboxes[node] or {};
	mailboxes[node] = mailbox;
	mailbox[#mailbox + 1] = { tid = next_tid, date = now_ms(), messages = 1, labels = labels,
		subject = deliver.attr.subject or "", snippet = deliver.attr.snippet or "",
		address = deliver.attr.address or "sender@example.org", name = deliver.attr.name };
	origin.send(st.reply(stanza));
	push_new_mail(node);
	return true;
end);
