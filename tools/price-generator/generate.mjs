// Writes TokvaneCore/Resources/prices.json, the price list that the core
// library embeds, from the maintained price database @pydantic/genai-prices.
//
// How to run (needs Node.js 20 or later and access to the npm registry):
//
//     cd tools/price-generator
//     npm ci
//     node generate.mjs
//
// then review the diff of TokvaneCore/Resources/prices.json and commit it.
// To take newer prices, raise the exact version in package.json, run
// `npm install`, regenerate and commit package.json, package-lock.json and
// the JSON together. The build and the tests never run this script: they
// only read the committed JSON.
//
// What it writes: an object {"models": {name: price}} where each price holds
// input, output, cacheRead, cacheWrite5m and cacheWrite1h in USD per million
// tokens, plus source and asOf. Keys are sorted so that a regeneration
// shows only real changes.

import { execFileSync } from 'node:child_process';
import { readFileSync, writeFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

import { calcPrice, findProvider } from '@pydantic/genai-prices';

const here = dirname(fileURLToPath(import.meta.url));
const packageName = '@pydantic/genai-prices';
const outputPath = join(here, '..', '..', 'TokvaneCore', 'Resources', 'prices.json');

// The providers whose models Claude Code, Codex and Grok run.
const providers = ['anthropic', 'openai', 'x-ai'];

// Names the tools write into their logs today; the run fails when one of them
// would be left unpriced (directly or through its undated base name).
const namesThatMustBePriced = [
  'claude-sonnet-4-5-20250929',
  'claude-opus-4-1-20250805',
  'claude-haiku-4-5-20251001',
  'gpt-5-codex',
  'gpt-5.1-codex-mini',
  'grok-code-fast-1',
];

function fail(message) {
  console.error(`price-generator: ${message}`);
  process.exit(1);
}

const installed = JSON.parse(
  readFileSync(join(here, 'node_modules', ...packageName.split('/'), 'package.json'), 'utf8'),
);
const version = installed.version;
const pinned = JSON.parse(readFileSync(join(here, 'package.json'), 'utf8')).dependencies[packageName];
if (pinned !== version) fail(`installed ${packageName} ${version} differs from the pinned ${pinned}; run npm ci`);

// The date of the data. The package carries no date of its own, so the
// publish date of the installed version, as the registry records it, stands
// for it.
function publishDate() {
  let times;
  try {
    times = JSON.parse(execFileSync('npm', ['view', `${packageName}@${version}`, 'time', '--json'], { encoding: 'utf8' }));
  } catch (error) {
    fail(`could not ask the npm registry for the publish date of ${packageName} ${version}: ${error.message}`);
  }
  const published = times && times[version];
  if (typeof published !== 'string' || Number.isNaN(Date.parse(published))) {
    fail(`the npm registry gave no publish date for ${packageName} ${version}`);
  }
  return new Date(published);
}

const published = publishDate();
const source = `${packageName} ${version}`;
const asOf = published.toISOString().slice(0, 10);

// Every name of a model's `equals` and `starts_with` rules becomes a key. A
// `starts_with` prefix such as "claude-sonnet-4-5" is exactly the undated base
// name that the table's lookup falls back to when a dated name
// ("claude-sonnet-4-5-20250929") has no key of its own. Names under an `and`
// rule are only part of a condition and `regex`, `contains` and `ends_with`
// rules name no single model, so those give no keys.
function ruleNames(rule, names = []) {
  if ('equals' in rule) names.push(rule.equals);
  else if ('starts_with' in rule) names.push(rule.starts_with);
  else if ('or' in rule) for (const inner of rule.or) ruleNames(inner, names);
  return names;
}

// A price the package gives either as a number or, where the price depends on
// the context length, as tiers over a base price: the base price is used (the
// table has no notion of context length and most requests stay below the
// first tier).
function basePrice(value) {
  if (typeof value === 'number') return value;
  if (value && typeof value === 'object' && typeof value.base === 'number') return value.base;
  return undefined;
}

// Models priced by audio or image units as well as by text tokens would be
// mispriced by text token prices alone; the coding tools never run them.
function pricesOtherMedia(modelPrice) {
  return Object.keys(modelPrice).some((key) => key.includes('audio') || key.includes('image'));
}

// Kinds of model that no coding agent runs, by the package's model id: speech,
// image, realtime, search, embedding and moderation endpoints, computer use,
// fine-tunes (whose logged names carry an account suffix that no key could
// match) and the completion-only models that predate chat.
const notAgentWords = new Set([
  'audio', 'tts', 'transcribe', 'realtime', 'image', 'search', 'embedding', 'moderation', 'computer', 'ft', 'instruct',
]);
const completionOnly = /^(ada|babbage|curie|davinci|text-)/;

function isAgentModel(modelId) {
  return !completionOnly.test(modelId) && !modelId.split(/[-.:]/).some((word) => notAgentWords.has(word));
}

function entryFor(providerId, modelId, modelPrice) {
  if (!isAgentModel(modelId)) return undefined;
  const input = basePrice(modelPrice.input_mtok);
  const output = basePrice(modelPrice.output_mtok);
  // Only models priced per text token in both directions make entries.
  if (input === undefined || output === undefined || pricesOtherMedia(modelPrice)) return undefined;
  // Claude Code runs only on Claude models with prompt caching; the ones
  // without cache prices predate it and never appear in its logs.
  if (providerId === 'anthropic' && (modelPrice.cache_read_mtok === undefined || modelPrice.cache_write_mtok === undefined)) {
    return undefined;
  }

  // A model without a cache-read price bills cached input as ordinary input
  // (that is how the package itself prices such tokens).
  const cacheRead = basePrice(modelPrice.cache_read_mtok) ?? input;
  // The package's cache-write price where it has one; without one, cache
  // writes cost what ordinary input costs (again the package's own rule).
  const cacheWrite = basePrice(modelPrice.cache_write_mtok) ?? input;

  let cacheWrite5m;
  let cacheWrite1h;
  if (providerId === 'anthropic') {
    // Anthropic: a five-minute cache write is the package's cache-write price,
    // and a one-hour cache write costs twice the base input price (Anthropic's
    // published rule for one-hour cache writes).
    cacheWrite5m = cacheWrite;
    cacheWrite1h = 2 * input;
    const listed = basePrice(modelPrice.cache_write_1h_mtok);
    if (listed !== undefined && listed !== cacheWrite1h) {
      console.warn(`price-generator: warning: the package lists ${listed} for one-hour cache writes where 2 x input is ${cacheWrite1h}`);
    }
  } else {
    // OpenAI and xAI charge no cache-write surcharge on almost all models, so
    // a cache write costs the input price. The few models for which the
    // package does list a cache-write price (a surcharge on some newer OpenAI
    // models) get that price instead. Their logs report every cache write
    // under one count, so both lifetimes get the same price.
    cacheWrite5m = cacheWrite;
    cacheWrite1h = cacheWrite;
  }

  const prices = [input, output, cacheRead, cacheWrite5m, cacheWrite1h];
  if (!prices.every((price) => Number.isFinite(price) && price >= 0)) {
    fail(`the package gives ${modelId} a price that is not a finite number of at least 0`);
  }
  return { input, output, cacheRead, cacheWrite5m, cacheWrite1h, source, asOf };
}

const models = new Map();
const owners = new Map();
for (const providerId of providers) {
  const provider = findProvider({ providerId });
  if (!provider) fail(`the package has no provider "${providerId}"`);
  for (const model of provider.models) {
    for (const name of ruleNames(model.match)) {
      // The package's own matching decides which model a name belongs to
      // (a name can also satisfy an earlier model's rule) and, where prices
      // changed on a date, which prices were in effect when the data was
      // published.
      const result = calcPrice({ input_tokens: 0 }, name, { providerId, timestamp: published });
      if (!result || result.provider.id !== providerId) continue;
      const entry = entryFor(providerId, result.model.id, result.model_price);
      if (!entry) continue;
      const previous = models.get(name);
      if (previous && JSON.stringify(previous) !== JSON.stringify(entry)) {
        fail(`"${name}" is priced differently by ${owners.get(name)} and ${providerId}`);
      }
      models.set(name, entry);
      owners.set(name, providerId);
    }
  }
}

// The same lookup the table performs: the exact name, else the name without
// one trailing "-" and eight-digit date stamp.
function lookup(name) {
  if (models.has(name)) return models.get(name);
  const stamped = /-[0-9]{8}$/.exec(name);
  return stamped ? models.get(name.slice(0, stamped.index)) : undefined;
}
const unpriced = namesThatMustBePriced.filter((name) => !lookup(name));
if (unpriced.length > 0) fail(`no price for ${unpriced.join(', ')}`);

const sorted = Object.fromEntries([...models.entries()].sort(([a], [b]) => (a < b ? -1 : a > b ? 1 : 0)));
writeFileSync(outputPath, `${JSON.stringify({ models: sorted }, null, 2)}\n`);
console.log(`price-generator: wrote ${models.size} prices from ${source} (as of ${asOf}) to ${outputPath}`);
