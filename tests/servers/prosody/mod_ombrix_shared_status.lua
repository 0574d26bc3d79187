-- The service's shared status ("ombrix:shared-status") for tests: the status message, show
-- and recent messages per show that all of a user's clients share.
--
--   get to the own bare address: the stored status with the limits (status-max,
--     status-list-max, status-list-contents-max); the session is then sent pushes
--   set to the own bare address: a status longer than status-max is not-acceptable, an
--     unknown show or a show listed twice is bad-request (nothing stored); lists are cut to
--     their limits; the new status is pushed to the account's other resources that asked
--   either addressed to somebody else's bare address: forbidden
--
-- Options: ombrix_status_max (512), ombrix_status_list_max (3),
-- ombrix_status_list_contents_max (5).

local st = require "util.stanza";
local jid_bare = require "util.jid".bare;
local new_id = require "util.id".short;

local NS = "ombrix:shared-status";
local status_max = module:get_option_number("ombrix_status_max", 512);
local list_max = module:get_option_number("ombrix_status_list_max", 3);
local contents_max = module:get_option_number("ombrix_status_list_contents_max", 5);
local shows = { default = true, dnd = true, away = true, xa = true, chat = true };

local store = module:open_store("ombrix_shared_status");

module:add_feature(NS);

local function build_query(data)
	local query = st.stanza("query", {
		xmlns = NS;
		["status-max"] = tostring(status_max);
		["status-list-max"] = tostring(list_max);
		["status-list-contents-max"] = tostring(contents_max);
	});
	query:text_tag("status", data.status or "");
	query:text_tag("show", data.show or "default");
	for _, list in ipairs(data.lists or {}) do
		query:tag("status-list", { show = list.show });
		for _, text in ipairs(list.statuses) do query:text_tag("status", text); end
		query:up();
	end
	return query;
end

-- The stored form of a set's query, or nil and the error to answer.
local function parse_set(query)
	local data = { status = query:get_child_text("status") or "", lists = {} };
	if #data.status > status_max then return nil, "modify", "not-acceptable", "Status too long"; end
	local show = query:get_child_text("show") or "";
	if show == "" then show = "default"; end
	if not shows[show] then return nil, "modify", "bad-request", "Unknown show"; end
	data.show = show;
	local seen = {};
	for list in query:childtags("status-list") do
		local list_show = list.attr.show or "default";
		if not shows[list_show] or seen[list_show] then
			return nil, "modify", "bad-request", "Unknown or repeated list";
		end
		seen[list_show] = true;
		local entry = { show = list_show, statuses = {} };
		for status in list:childtags("status") do
			local text = status:get_text() or "";
			if #text > status_max then return nil, "modify", "not-acceptable", "Status too long"; end
			if #entry.statuses < contents_max then entry.statuses[#entry.statuses + 1] = text; end
		end
		if #data.lists < list_max then data.lists[#data.lists + 1] = entry; end
	end
	return data;
end

local function own_request(event)
	local session, stanza = event.origin, event.stanza;
	local own = session.username .. "@" .. session.host;
	if stanza.attr.to and jid_bare(stanza.attr.to) ~= own then
		session.send(st.error_reply(stanza, "auth", "forbidden"));
		return nil;
	end
	return session, stanza, own;
end

module:hook("iq-get/self/" .. NS .. ":query", function(event)
	local session, stanza = own_request(event);
	if not session then return true; end
	session.ombrix_shared_status = true;
	local data = store:get(session.username) or {};
	session.send(st.reply(stanza):add_child(build_query(data)));
	return true;
end);

module:hook("iq-set/self/" .. NS .. ":query", function(event)
	local session, stanza, own = own_request(event);
	if not session then return true; end
	local data, err_type, err_cond, err_text = parse_set(stanza.tags[1]);
	if not data then
		session.send(st.error_reply(stanza, err_type, err_cond, err_text));
		return true;
	end
	if not store:set(session.username, data) then
		session.send(st.error_reply(stanza, "wait", "internal-server-error"));
		return true;
	end
	session.ombrix_shared_status = true;
	session.send(st.reply(stanza));
	local user = prosody.bare_sessions[own];
	for _, other in pairs(user and user.sessions or {}) do
		if other ~= session and other.ombrix_shared_status then
			other.send(st.iq({ type = "set", id = new_id(), from = own, to = other.full_jid })
				:add_child(build_query(data)));
		end
	end
	return true;
end);

-- Somebody else's shared status is nobody's business. (Requests to the own bare address come
-- here first too; they are left to the handlers above.)
for _, type in ipairs({ "get", "set" }) do
	module:hook("iq-" .. type .. "/bare/" .. NS .. ":query", function(event)
		if event.to_self then return; end
		event.origin.send(st.error_reply(event.stanza, "auth", "forbidden"));
		return true;
	end);
end
