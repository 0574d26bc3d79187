-- The service's roster extension ("ombrix:roster") for the test server.
--
-- * A roster get carrying gr:ext marks the session: from then on every roster result and push
--   it receives carries the extension attributes (gr:t list mode, gr:w weight, gr:mc message
--   count, gr:emc effective count, gr:rejected, gr:autosub, gr:alias-for) under the prefix
--   "gr" declared on the query.
-- * A roster set carrying gr:ext may change several items at once, and sets (gr:t="H" or
--   "B") or clears (no gr:t) the list mode of each.
-- * increment-mc adds to a contact's message count (and weight); boost-mc raises its
--   effective count. Both push the changed item.
-- * invites-remaining tells how many invitations the user has left.
--
-- Options: ombrix_roster_seed = { ["user@host"] = { ["contact@host"] = { rejected = true,
-- autosub = true, alias_for = "...", w = 5, ... } } } seeds extension data;
-- ombrix_invites = { ["user@host"] = N or false } (false: the count is unavailable);
-- ombrix_invites_default (10).

local st = require "util.stanza";
local jid_prep = require "util.jid".prep;
local jid_resource = require "util.jid".resource;
local filters = require "util.filters";
local rostermanager = require "core.rostermanager";

local NS = "ombrix:roster";
local NS_ROSTER = "jabber:iq:roster";
local ATTR = NS .. "\1";  -- how the parser names attributes in that namespace
local MAX_ITEMS_PER_SET = 100;
local MAX_COUNTER_STEP = 1000000;
local MAX_COUNTER = 2147483647;

local ext_store = module:open_store("ombrix_roster");
local seed = module:get_option("ombrix_roster_seed", {});
local invites = module:get_option("ombrix_invites", {});
local invites_default = module:get_option_number("ombrix_invites_default", 10);

module:add_feature(NS);

local function load_ext(username)
	local data = ext_store:get(username) or {};
	local seeded = seed[username .. "@" .. module.host];
	if seeded then
		for contact, attrs in pairs(seeded) do
			local entry = data[contact] or {};
			data[contact] = entry;
			for k, v in pairs(attrs) do
				if entry[k] == nil then entry[k] = v; end
			end
		end
	end
	return data;
end

local function save_ext(username, data)
	return ext_store:set(username, data);
end

-- Adds the extension attributes to the roster results and pushes a marked session receives.
-- Pushes are shared between sessions, so the decorated stanza is a copy.
local function decorate(stanza, session)
	if not session.ombrix_roster_ext or stanza.name ~= "iq" then return stanza; end
	local type = stanza.attr.type;
	if type ~= "result" and type ~= "set" then return stanza; end
	local query = stanza.tags[1];
	if not query or query.name ~= "query" or query.attr.xmlns ~= NS_ROSTER then return stanza; end
	stanza = st.clone(stanza);
	query = stanza.tags[1];
	query.attr["xmlns:gr"] = NS;
	query.attr["gr:ext"] = "2";
	local ext = load_ext(session.username);
	for _, item in ipairs(query.tags) do
		local entry = item.name == "item" and item.attr.subscription ~= "remove" and ext[item.attr.jid];
		if entry then
			if entry.t then item.attr["gr:t"] = entry.t; end
			if entry.w then item.attr["gr:w"] = tostring(entry.w); end
			if entry.mc then item.attr["gr:mc"] = tostring(entry.mc); end
			if entry.emc then item.attr["gr:emc"] = tostring(entry.emc); end
			if entry.rejected then item.attr["gr:rejected"] = "true"; end
			if entry.autosub then item.attr["gr:autosub"] = "true"; end
			if entry.alias_for then item.attr["gr:alias-for"] = entry.alias_for; end
		end
	end
	return stanza;
end

module:hook("resource-bind", function(event)
	filters.add_filter(event.session, "stanzas/out", decorate);
end);


local function set_items(session, stanza)
	local query = stanza.tags[1];
	local own = session.username .. "@" .. session.host;
	local roster = session.roster;
	if not roster then
		return session.send(st.error_reply(stanza, "auth", "not-authorized"));
	end
	-- Check everything before changing anything.
	local changes = {};
	for _, tag in ipairs(query.tags) do
		if tag.name ~= "item" then
			return session.send(st.error_reply(stanza, "modify", "bad-request", "Only items"));
		end
		local jid = tag.attr.jid and jid_prep(tag.attr.jid);
		if not jid or jid_resource(jid) then
			return session.send(st.error_reply(stanza, "modify", "jid-malformed"));
		end
		if jid == own then
			return session.send(st.error_reply(stanza, "cancel", "not-allowed"));
		end
		if tag.attr.subscription == "remove" and not roster[jid] then
			return session.send(st.error_reply(stanza, "modify", "item-not-found"));
		end
		local t = tag.attr[ATTR .. "t"];
		if t ~= nil and t ~= "" and t ~= "H" and t ~= "B" then
			return session.send(st.error_reply(stanza, "modify", "bad-request", "Unknown list mode"));
		end
		changes[#changes + 1] = { tag = tag, jid = jid, t = (t ~= "" and t or nil) };
	end
	if #changes == 0 or #changes > MAX_ITEMS_PER_SET then
		return session.send(st.error_reply(stanza, "modify", "bad-request", "Item count"));
	end

	local ext = load_ext(session.username);
	for _, change in ipairs(changes) do
		local jid, tag = change.jid, change.tag;
		if tag.attr.subscription == "remove" then
			ext[jid] = nil;
		else
			local entry = ext[jid] or {};
			entry.t = change.t;
			ext[jid] = entry;
		end
	end
	save_ext(session.username, ext);

	for _, change in ipairs(changes) do
		local jid, tag = change.jid, change.tag;
		local ok, err_type, err_cond, err_msg;
		if tag.attr.subscription == "remove" then
			module:fire_event("roster-item-removed", {
				username = session.username, jid = jid, item = roster[jid], origin = session, roster = roster,
			});
			ok, err_type, err_cond, err_msg = rostermanager.remove_from_roster(session, jid);
		else
			local item = { name = tag.attr.name, groups = {} };
			if item.name == "" then item.name = nil; end
			local old = roster[jid];
			item.subscription = old and old.subscription or "none";
			item.ask = old and old.ask or nil;
			for group in tag:childtags("group") do
				local text = group:get_text();
				if text and text ~= "" then item.groups[text] = true; end
			end
			ok, err_type, err_cond, err_msg = rostermanager.add_to_roster(session, jid, item);
		end
		if not ok then
			return session.send(st.error_reply(stanza, err_type, err_cond, err_msg));
		end
	end
	session.send(st.reply(stanza));
	for _, change in ipairs(changes) do
		rostermanager.roster_push(session.username, session.host, change.jid);
	end
end

module:hook("iq/self/jabber:iq:roster:query", function(event)
	local session, stanza = event.origin, event.stanza;
	local query = stanza.tags[1];
	if query.attr[ATTR .. "ext"] == nil then return; end  -- a plain request: mod_roster's
	session.ombrix_roster_ext = true;
	if stanza.attr.type == "get" then return; end  -- mod_roster answers; the filter decorates
	set_items(session, stanza);
	return true;
end, 1);

local function counter_command(event, boost)
	local session, stanza = event.origin, event.stanza;
	local command = stanza.tags[1];
	local jid = command.attr.jid and jid_prep(command.attr.jid);
	if not jid or jid_resource(jid) then
		return session.send(st.error_reply(stanza, "modify", "jid-malformed"));
	end
	local text = command.attr.value;
	local value = text and text:match("^%d+$") and tonumber(text);
	if not value or value < 1 or value > MAX_COUNTER_STEP then
		return session.send(st.error_reply(stanza, "modify", "bad-request", "Invalid value"));
	end
	if not (session.roster and session.roster[jid]) then
		return session.send(st.error_reply(stanza, "cancel", "item-not-found"));
	end
	local ext = load_ext(session.username);
	local entry = ext[jid] or {};
	ext[jid] = entry;
	if boost then
		entry.emc = math.min((entry.emc or entry.w or 0) + value, MAX_COUNTER);
	else
		entry.mc = math.min((entry.mc or 0) + value, MAX_COUNTER);
		entry.w = math.min((entry.w or 0) + value, MAX_COUNTER);
		if entry.emc then entry.emc = math.min(entry.emc + value, MAX_COUNTER); end
	end
	save_ext(session.username, ext);
	session.send(st.reply(stanza));
	rostermanager.roster_push(session.username, session.host, jid);
	return true;
end

module:hook("iq-set/self/" .. NS .. ":increment-mc", function(event)
	counter_command(event, false);
	return true;
end);

module:hook("iq-set/self/" .. NS .. ":boost-mc", function(event)
	counter_command(event, true);
	return true;
end);

module:hook("iq-get/self/" .. NS .. ":invites-remaining", function(event)
	local session, stanza = event.origin, event.stanza;
	local count = invites[session.username .. "@" .. session.host];
	if count == false then
		session.send(st.error_reply(stanza, "cancel", "service-unavailable"));
		return true;
	end
	session.send(st.reply(stanza):text_tag("invites-remaining", tostring(count or invites_default), { xmlns = NS }));
	return true;
end);

module:hook("iq-set/self/" .. NS .. ":invites-remaining", function(event)
	event.origin.send(st.error_reply(event.stanza, "modify", "bad-request", "Read-only"));
	return true;
end);
