#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets: realistic payloads of every agent, broken
Cursor payloads, and the desktop's answers. Run it from anywhere; it rewrites corpus/."""
import json
import os
import shutil

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus")

# Index of each option in hook_road.cpp's tables; the header byte is 0x40 + index.
SOURCES = ["", "cursor", "cline", "claude", "kimi", "copilot", "gemini", "codex", "qoder",
           "kiro", "reasonix", "workbuddy", "codebuddy", "Cursor", "claude-code", "unknown"]
EVENTS = ["", "PreToolUse", "PostToolUse", "Stop", "PermissionRequest", "permissionRequest",
          "preToolUse", "BeforeTool", "AfterTool", "AfterModel", "UserPromptSubmit",
          "Notification", "tool_call", "beforeSubmitPrompt", "Elicitation", "SessionStart"]
ANSWER_HTTP, ANSWER_BODY, ANSWER_REFUSED, STDOUT_CLOSED, LOG = 0, 1, 2, 4, 8
SEPARATOR = "\n@@desktop@@\n"


def j(value):
    return json.dumps(value, ensure_ascii=False, separators=(",", ":"))


def http(status, body="", headers=()):
    reason = {200: "OK", 204: "No Content", 409: "Conflict", 500: "Internal Server Error"}
    head = "HTTP/1.1 %d %s\r\n" % (status, reason.get(status, "X"))
    for h in ("Content-Type: application/json",) + tuple(headers):
        head += h + "\r\n"
    return head + "\r\n" + body


def chunked(body, sizes):
    out, pos = "", 0
    for n in sizes:
        piece = body[pos:pos + n]
        out += "%x\r\n%s\r\n" % (len(piece.encode()), piece)
        pos += n
    if pos < len(body):
        out += "%x\r\n%s\r\n" % (len(body[pos:].encode()), body[pos:])
    return out + "0\r\n\r\n"


def decision(behavior, **extra):
    return j({"hookSpecificOutput": {"decision": {"behavior": behavior}, **extra}})


ALLOW = http(200, decision("allow"))
DENY = http(200, decision("deny"))
PASS = http(200, decision("passthrough"))

corpus = {"hook_road": {}, "http_response": {}, "cursor_recovery": {}, "tool_input_context": {}}


def road(name, source, event, payload, answer=None, flags=ANSWER_HTTP):
    text = payload if isinstance(payload, str) else j(payload)
    head = chr(0x40 + SOURCES.index(source)) + chr(0x40 + EVENTS.index(event)) + chr(0x30 + flags)
    data = head + text + ("" if answer is None else SEPARATOR + answer)
    corpus["hook_road"][name] = data.encode() if isinstance(data, str) else data


# --- Claude Code
claude_pre = {"session_id": "9f2c1e7a-4b1d-4c55-9a3e-2b7f0c1d8e61",
              "transcript_path": "/Users/me/.claude/projects/app/9f2c1e7a.jsonl",
              "cwd": "/Users/me/app", "permission_mode": "default",
              "hook_event_name": "PreToolUse", "tool_name": "Bash",
              "tool_input": {"command": "npm test -- --watch=false", "description": "Run tests"}}
road("claude-pretooluse-bash", "claude", "", claude_pre, http(200, "{}"))
road("claude-posttooluse-write", "claude", "", {
    **claude_pre, "hook_event_name": "PostToolUse", "tool_name": "Write",
    "tool_input": {"file_path": "/Users/me/app/src/main.rs",
                   "content": "fn main() {\n\tprintln!(\"héllo \\\"wörld\\\"\");\n}\n"},
    "tool_response": {"filePath": "/Users/me/app/src/main.rs", "success": True}},
    http(200, '{"ok":true}'), LOG)
road("claude-userpromptsubmit", "claude", "", {
    **{k: claude_pre[k] for k in ("session_id", "transcript_path", "cwd")},
    "hook_event_name": "UserPromptSubmit", "prompt": "  Fix the failing test in parser.rs  "},
    http(204))
road("claude-stop", "claude", "", {
    "session_id": "s1", "hook_event_name": "Stop", "stop_hook_active": False,
    "last_assistant_message": "All 42 tests pass.\nDone."}, http(200, "{}"), ANSWER_REFUSED)
road("claude-notification", "claude", "", {
    "session_id": "s1", "hook_event_name": "Notification",
    "message": "Claude needs your permission to use Bash", "notification_type": "permission_prompt"},
    http(500))
road("claude-permissionrequest-allow", "claude", "", {
    **claude_pre, "hook_event_name": "PermissionRequest"},
    http(200, decision("allow", hookEventName="PermissionRequest")))
road("claude-permissionrequest-passthrough", "claude", "", {
    **claude_pre, "hook_event_name": "PermissionRequest"}, PASS)
road("claude-permissionrequest-empty-answer", "claude", "", {
    **claude_pre, "hook_event_name": "PermissionRequest"}, http(200, "{}"))
road("claude-permissionrequest-409", "claude", "", {
    **claude_pre, "hook_event_name": "PermissionRequest"}, http(409, "  busy  "))
ask = {"session_id": "s1", "hook_event_name": "PermissionRequest", "tool_name": "AskUserQuestion",
       "tool_input": {"questions": [
           {"question": " Which? ", "header": "Pick", "multiSelect": False,
            "options": ["a", {"label": " B ", "description": "the second"},
                        {"value": "", "text": "T"}]}],
           "answers": {"Earlier?": "yes"}}}
road("askuserquestion-answer", "claude-code", "", ask, http(200, decision("answer:1")))
road("askuserquestion-choice-out-of-range", "claude", "", ask, http(200, decision("choice:9")))
road("askuserquestion-answer-plus", "claude", "", ask, http(200, decision("answer:+2")), ANSWER_HTTP)

# --- Codex
codex = {"session_id": "0199a1b2-codex", "turn_id": "t-17", "cwd": "/home/me/svc",
         "hook_event_name": "PermissionRequest", "tool_name": "shell",
         "tool_input": {"command": ["bash", "-lc", "cargo build --release"],
                        "workdir": "/home/me/svc", "timeout_ms": 120000}}
road("codex-permission-allow", "codex", "", codex, ALLOW)
road("codex-permission-deny", "codex", "", codex, DENY)
road("codex-permission-passthrough", "codex", "", codex, PASS, ANSWER_HTTP | LOG)
road("codex-stop", "codex", "Stop", {"session_id": "0199a1b2-codex", "turn_id": "t-17",
                                      "last_assistant_message": "Built."}, http(200, "{}"))

# --- Cursor
cursor = {"conversation_id": "c0nv-1", "generation_id": "gen-77", "model": "claude-4-sonnet",
          "hook_event_name": "preToolUse", "cursor_version": "1.7.2",
          "workspace_roots": ["/Users/me/web"], "user_email": "me@example.com",
          "tool_name": "Shell", "tool_input": {"command": "rm -rf dist"}}
road("cursor-pretooluse-deny", "cursor", "", cursor, DENY)
road("cursor-pretooluse-allow-chunked", "cursor", "", cursor,
     http(200, chunked(decision("allow"), [5, 9]), ["Transfer-Encoding: chunked"]))
road("cursor-version-wrong-source", "claude", "", cursor, ALLOW)
road("cursor-beforesubmitprompt", "cursor", "", {
    **{k: cursor[k] for k in ("conversation_id", "generation_id", "cursor_version", "workspace_roots")},
    "hook_event_name": "beforeSubmitPrompt", "prompt": "add a dark mode toggle",
    "attachments": [{"type": "file", "filePath": "/Users/me/web/app.tsx"}]}, http(200, "{}"))
road("cursor-afteragentresponse", "cursor", "", {
    "conversation_id": "c0nv-1", "cursor_version": "1.7.2", "hook_event_name": "afterAgentResponse",
    "text": "Added the toggle."}, http(204))
broken_newline = ('{"conversation_id":"c0nv-1","cursor_version":"1.7.2","hook_event_name":"stop",'
                  '"status":"completed","loop_count":3,"text":"line one\nline two",'
                  '"workspace_roots":["/Users/me/web"]}')
road("cursor-broken-raw-newline", "cursor", "", broken_newline, http(200, "{}"))
road("cursor-broken-two-objects", "", "", '{"a":1}{"cursor_version":"1.7.2","hook_event_name":"stop"}',
     http(200, "{}"))
road("cursor-broken-trailing-text", "Cursor", "",
     j(cursor) + " trailing text\x00\ufeff", DENY)
road("cursor-broken-unicode-escape", "cursor", "",
     '{"session_id":"\\u00e9x","cursor_version":"2.0","hook_event_name":"preToolUse","input_tokens":-5,'
     '"output_tokens":"7","x":"\n"}', ALLOW)
road("cursor-noise-prefix", "cursor", "", "\ufeff? \n" + j(cursor), ALLOW)

# --- Gemini
gemini = {"session_id": "g-1", "transcript_path": "/home/me/.gemini/tmp/chats/g-1.json",
          "cwd": "/home/me/proj", "hook_event_name": "BeforeTool", "timestamp": "2025-11-02T10:00:00Z",
          "tool_name": "run_shell_command", "tool_input": {"command": "ls -la", "directory": "."}}
road("gemini-beforetool", "gemini", "", gemini, ALLOW)
road("gemini-aftertool", "gemini", "", {**gemini, "hook_event_name": "AfterTool",
                                        "tool_response": {"llmContent": "total 0"}}, http(200, "{}"))
road("gemini-aftermodel", "gemini", "", {**gemini, "hook_event_name": "AfterModel",
                                         "llm_response": {"text": "partial"}})
road("gemini-notification", "gemini", "", {"session_id": "g-1", "hook_event_name": "Notification",
                                           "notification_type": "ToolPermission", "message": "Allow?"},
     http(200, "{}"))
road("gemini-afteragent", "gemini", "", {"session_id": "g-1", "hook_event_name": "AfterAgent",
                                         "prompt": "hi", "prompt_response": "Hello!"}, http(204))

# --- Copilot, camelCase and snake_case
road("copilot-camel-pretooluse", "copilot", "preToolUse", {
    "timestamp": 1762075200123, "cwd": "/home/me/repo", "toolName": "bash",
    "toolArgs": "{\"command\":\"git status\",\"description\":\"status\"}"}, DENY)
road("copilot-camel-permissionrequest", "copilot", "permissionRequest", {
    "sessionId": "cp-1", "cwd": "/home/me/repo", "toolName": "edit",
    "toolArgs": "not json at all"}, PASS)
road("copilot-report-intent", "copilot", "permissionRequest", {
    "sessionId": "cp-1", "toolName": "report_intent", "toolArgs": "{\"intent\":\"Exploring\"}"})
road("copilot-snake-pretooluse", "copilot", "", {
    "session_id": "cp-2", "hook_event_name": "PreToolUse", "tool_name": "shell",
    "tool_input": {"commands": "[\"npm ci\", \"npm test\"]"}}, PASS)
road("copilot-notification", "copilot", "", {
    "sessionId": "cp-1", "hookName": "notification", "notificationType": "agent_completed"},
    http(200, "{}"))
road("copilot-userpromptsubmitted", "copilot", "", {
    "sessionId": "cp-1", "event": "userPromptSubmitted", "prompt": "explain this"}, http(204))

# --- Cline
cline_ctx = {"taskId": "t-9", "sessionContext": {"rootSessionId": "s1"},
             "workspaceRoots": ["/home/me/site"], "clineVersion": "3.30.0"}
road("cline-pretooluse", "cline", "", {
    **cline_ctx, "hookName": "PreToolUse",
    "preToolUse": {"toolName": "execute_command",
                   "parameters": {"command": "npm run build", "requires_approval": "true"}}}, DENY)
road("cline-tool-call", "cline", "", {
    **cline_ctx, "hookName": "tool_call", "preToolUse": {"tool": "write_to_file",
                                                         "parameters": {"path": "a.txt"}}}, ALLOW)
road("cline-posttooluse", "cline", "", {
    **cline_ctx, "hookName": "PostToolUse",
    "postToolUse": {"toolName": "execute_command", "parameters": {"commands": "[\"npm test\"]"},
                    "success": False}}, http(200, "{}"))
road("cline-tool-result", "cline", "", {
    **cline_ctx, "hookName": "tool_result",
    "tool_result": {"id": "tr-1", "name": "read_file", "input": {"files": [{"path": "README.md"}]},
                    "output": {"success": True}}}, http(200, "{}"), ANSWER_HTTP | LOG)
road("cline-taskstart", "cline", "", {**cline_ctx, "hookName": "TaskStart",
                                      "turn": {"input": [{"text": "build it"}]}}, http(204))

# --- Kiro
road("kiro-pretooluse", "kiro", "", {"session_id": "s1", "hook_event_name": "preToolUse",
                                     "cwd": "/home/me/k", "tool_name": "fs_write",
                                     "tool_input": {"path": "x.md", "command": "create"}}, DENY)
road("kiro-stop", "kiro", "", {"session_id": "s1", "hook_event_name": "stop",
                               "assistant_response": "  Finished.  "}, http(200, "{}"))

# --- Kimi
road("kimi-pretooluse", "kimi", "", {"session_id": "s1", "hook_event_name": "PreToolUse",
                                     "tool_name": "Shell", "tool_input": {"command": "make"}}, DENY)
road("kimi-pretooluse-allow", "kimi", "", {"session_id": "s1", "hook_event_name": "PreToolUse",
                                           "tool_name": "Shell", "tool_input": {"command": "make"}},
     ALLOW)

# --- Qoder, CodeBuddy, WorkBuddy
road("qoder-pretooluse", "qoder", "", {"session_id": "q-1", "hook_event_name": "PreToolUse",
                                       "tool_name": "Bash", "tool_input": {"command": "ls"}}, PASS)
road("codebuddy-pretooluse", "codebuddy", "", {
    "session_id": "cb-1", "hook_event_name": "PreToolUse", "tool_name": "Bash",
    "tool_input": {"command": "pytest -q"}}, DENY)
road("codebuddy-notification", "codebuddy", "", {
    "session_id": "cb-1", "hook_event_name": "Notification", "notification_type": "idle_prompt"},
    http(200, "{}"))
road("workbuddy-pretooluse", "workbuddy", "", {
    "session_id": "wb-1", "hook_event_name": "PreToolUse", "tool_name": "Write",
    "tool_input": {"files": "[{\"path\": \"notes.txt\"}]"}}, DENY)
road("workbuddy-notification", "workbuddy", "", {
    "session_id": "wb-1", "hook_event_name": "Notification", "notification_type": "permission_prompt"},
    http(200, "{}"))

# --- Reasonix
road("reasonix-pretooluse", "reasonix", "", {"session_id": "r-1", "hook_event_name": "PreToolUse",
                                             "cwd": "/home/me/app", "tool_name": "run",
                                             "tool_input": {"command": "go test ./..."}}, DENY)
road("reasonix-stop", "reasonix", "", {
    "session_id": "r-1", "hook_event_name": "Stop", "cwd": "/home/me/other",
    "messages": [{"role": "user", "content": "hi"},
                 {"role": "assistant", "content": [{"type": "text", "text": "Hello"}, "  ", "there"]}]},
    http(200, "{}"))

# --- Odd inputs
road("empty-stdin", "", "", "", http(200, "{}"))
road("not-json", "claude", "Stop", "this is not json", http(200, "{}"))
road("invalid-utf8", "claude", "", b"{\"a\":\"\xff\"}".decode("latin-1"), http(200, "{}"))
road("stdout-closed", "cline", "", {"hookName": "TaskStart"}, http(200, "{}"), STDOUT_CLOSED)
road("garbage-answer", "claude", "PermissionRequest", {"tool_name": "Bash"}, "garbage\r\n\r\n{\"x\"")
road("body-only-answer", "claude", "PermissionRequest", {"tool_name": "Bash"},
     decision("allow", hookEventName="PermissionRequest"), ANSWER_BODY)
corpus["hook_road"]["invalid-utf8"] = b"C@0{\"a\":\"\xff\"}"

# --- http_response
H = corpus["http_response"]
H["200-json"] = http(200, decision("allow"))
H["200-not-json"] = http(200, "not json")
H["204"] = "HTTP/1.1 204 No Content\r\n\r\n"
H["409-busy"] = http(409, "  busy  ")
H["500-empty"] = http(500)
H["500-long"] = http(500, "é" * 600)
H["chunked"] = http(200, chunked('{"a":1}', [5, 2]), ["Transfer-Encoding: chunked"])
H["chunked-ext"] = http(200, "5;ext=1\r\n{\"a\":\r\n2\r\n1}\r\n0\r\n\r\n", ["transfer-encoding: chunked"])
H["chunked-bad-size"] = http(200, "zz\r\n{}\r\n0\r\n\r\n", ["Transfer-Encoding: chunked"])
H["chunked-split-char"] = http(200, "1\r\n\u00e9\r\n0\r\n\r\n", ["Transfer-Encoding: chunked"])
H["garbage-status"] = "garbage\r\n\r\n{\"a\":1}"
H["no-separator"] = "HTTP/1.1 200 OK\r\n{}"
H["chunked-huge-size"] = http(200, "ffffffffffffffff\r\nx\r\n", ["Transfer-Encoding: chunked"])
H["status-overflow"] = "HTTP/1.1 70000 Odd\r\n\r\n{}"

# --- cursor_recovery
R = corpus["cursor_recovery"]
R["valid-with-trailing"] = j(cursor) + " and then some"
R["two-objects"] = '{"a":1}{"cursor_version":"1.7.2","hook_event_name":"stop"}'
R["raw-newline"] = broken_newline
R["version-number"] = '{"cursor_version":1.7,"hook_event_name":"stop","x":"\n"}'
R["unicode-escape"] = ('{"session_id":"\\u00e9","conversation_id":"c","cursor_version":"1",'
                       '"hook_event_name":"stop","input_tokens":-5,"output_tokens":"7",'
                       '"loop_count":12.5,"cache_read_tokens":-9223372036854775808,'
                       '"cache_write_tokens":9223372036854775808,"workspace_roots":["/a","/b]c"],"y":"\n"}')
R["nested-in-broken"] = '{"outer": [1, 2, {"cursor_version":"1","hook_event_name":"x"}, oops'
R["noise"] = "\ufeff\x00?" + j(cursor) + "\x00\ufeff\ufffd  \n"
R["deep"] = "[" * 130 + j(cursor) + "]" * 130
R["strings-with-brackets"] = '{"a":"{[\\"{","cursor_version":"v","b":[{}],"c":{"cursor_version":0}}'
R["escapes"] = ('{"x":"\\ud83d\\ude00 \\u00e9\\u0000\\/\\b","cursor_version":"\\u0031",'
               '"hook_event_name":"a\\"b\\\\"} {"cursor_version":"\\udbff\\udfff"}')
R["numbers"] = '[-0.0e+5, 1E400, {"cursor_version":true}, 0x1]'

# --- tool_input_context
T = corpus["tool_input_context"]
T["commands-json-text"] = j({"commands": "  [\"npm ci\", \"npm test\"]  ", "urls": "[\"http://x\"]"})
T["commands-mixed"] = j({"commands": ["ls", "   ", 7, None, {"a": [1]}], "files": ["  "]})
T["commands-broken-text"] = j({"commands": "[not json", "paths": "{\"a\":1}"})
T["files-objects"] = j({"files": [{"path": 3, "file_path": "x"}, "b.txt"], "edits": "[]"})
T["files-text"] = j({"files": "[{\"filePath\": \"/a/b.c\"}]", "command": None, "path": ""})
T["payload-claude"] = j({**claude_pre, "prompt": "  hi  ", "messages": []})
T["payload-messages"] = j({"messages": [{"role": "user", "content": "a"}, {"role": "assistant", "content": "b"},
                                        {"role": "USER", "content": [{"text": "c"}, "d", {"type": "image"}]}]})
T["payload-turn"] = j({"turn": {"messages": [{"type": "user", "text": " q "}], "outputText": "  ",
                                "input": [{"content": "x"}]}, "prompt": {"text": " p "}})
T["payload-workspace"] = j({"workspaceFolders": [{"name": "w", "uri": "file://localhost/Users/me"}],
                            "workspace_folder": {"uri": "file://server/share"}, "cwd": "   ",
                            "project": {"path": "file://"}})
T["payload-reasonix"] = j({"messages": [{"content": "x"}, {"role": "tool", "content": "y"},
                                        {"role": "assistant", "content": [" ", {"content": "z"}]}],
                           "last_assistant_message": None, "prompt_response": "r",
                           "assistant_response": "  k ", "query": 7})
T["long-text"] = j({"prompt": "word " * 100 + "\u00e9\u2028\u3000end", "user": {"message": ["a", "b"]}})
T["tool-input-nested"] = j({"tool_input": {"commands": "{\"a\":[1,2]}", "files": [None, "x"]},
                            "toolArgs": "{\"command\":\"ls\"}"})
T["depth-limit"] = j({"tool_input": {"commands": "[" * 126 + "]" * 126}}) + " "
T["too-deep"] = "[" * 129 + "]" * 129
T["numbers-and-escapes"] = ('{"a":[-0,1e308,18446744073709551615,-9223372036854775808,'
                            '1.7976931348623157e308,4.9e-324,0.1],"\\u0000k":"\\ud83d\\ude00",'
                            '"prompt":"x\\u2028y"}')
road("toolargs-deep", "claude", "PostToolUse",
     '{"toolArgs":"' + "[" * 128 + "]" * 128 + '","tool_name":"x"}', http(200, "{}"))


def main():
    shutil.rmtree(OUT, ignore_errors=True)
    for target, seeds in corpus.items():
        os.makedirs(os.path.join(OUT, target))
        for name, data in seeds.items():
            if isinstance(data, str):
                data = data.encode()
            with open(os.path.join(OUT, target, name), "wb") as f:
                f.write(data)


main()
