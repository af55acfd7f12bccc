// Drives `murmela-cli mcp` with the official MCP client library: the
// handshake, tools/list, tools/call and ping as a real agent sends them.
import assert from "node:assert/strict";
import { Client } from "@modelcontextprotocol/sdk/client/index.js";
import { StdioClientTransport } from "@modelcontextprotocol/sdk/client/stdio.js";

const cli = process.argv[2];
const transport = new StdioClientTransport({ command: cli, args: ["mcp"], stderr: "pipe" });
const client = new Client({ name: "interop-test", version: "1.0.0" });
await client.connect(transport);

assert.equal(client.getServerVersion().name, "murmela");
assert.match(client.getInstructions(), /not MCP/);

const { tools } = await client.listTools();
assert.deepEqual(tools.map((t) => t.name), ["murmela_use_cli"]);

const result = await client.callTool({ name: "murmela_use_cli", arguments: {} });
assert.equal(result.isError, false);
assert.match(result.content[0].text, /^# Using Murmela from an agent\n/);
assert.ok(result.content[0].text.includes(`CLI: ${cli}\n`));

await client.ping();
await client.close();
console.log("1 passed, 0 failed");
