// A real OAuth 2.0 authorization server for the tests and the demo:
// oidc-provider (from npm) over HTTPS on loopback, with a native public client
// that must use PKCE, refresh tokens on every code (rotated on every use),
// short access tokens, introspection (for the SMTP server that checks
// tokens), revocation and the library's own login and consent pages.
//
//   node server.mjs PORT CERT KEY STATE_DIR ACCESS_TOKEN_SECONDS
//
// Resource indicators are on (RFC 8707): the scope "smtp.send" belongs to the
// SMTP server's resource. As the library does by default, a grant made without
// a consent prompt leaves out offline_access, and a refresh that names a scope
// the grant lacks is refused with invalid_scope.
//
// STATE_DIR/mode may say "slow", "garbage", "unavailable" or "scope-refused":
// the token endpoint then answers after 5 s (with 503), with HTML, with the
// error temporarily_unavailable, or refuses every refresh with invalid_scope.
// POST /test/revoke?kind=RefreshToken|AccessToken revokes every token of that
// kind; STATE_DIR/log gets a line per token request.
import fs from 'node:fs';
import https from 'node:https';
import path from 'node:path';
import Provider from 'oidc-provider';

const [port, certFile, keyFile, stateDir, accessSeconds] = process.argv.slice(2);

// The library's storage, kept where the test can reach it.
const stored = new Map();
class TestAdapter {
  constructor(name) { this.name = name; }
  key(id) { return `${this.name}:${id}`; }
  async upsert(id, payload, expiresIn) {
    stored.set(this.key(id), { payload, until: expiresIn ? Date.now() + expiresIn * 1000 : Infinity });
    if (payload.grantId) stored.set(`grant:${this.name}:${id}`, payload.grantId);
    if (payload.userCode) stored.set(`userCode:${payload.userCode}`, id);
    if (payload.uid) stored.set(`uid:${payload.uid}`, id);
  }
  async find(id) {
    const entry = stored.get(this.key(id));
    if (!entry || entry.until < Date.now()) return undefined;
    return entry.payload;
  }
  async findByUid(uid) { return this.find(stored.get(`uid:${uid}`)); }
  async findByUserCode(code) { return this.find(stored.get(`userCode:${code}`)); }
  async consume(id) {
    const entry = stored.get(this.key(id));
    if (entry) entry.payload.consumed = Math.floor(Date.now() / 1000);
  }
  async destroy(id) { stored.delete(this.key(id)); }
  async revokeByGrantId(grantId) {
    for (const [key, value] of stored) if (key.startsWith('grant:') && value === grantId) stored.delete(key.slice(6));
  }
}

const provider = new Provider(`https://localhost:${port}`, {
  adapter: TestAdapter,
  clients: [
    {
      client_id: 'kt-emailer', application_type: 'native', token_endpoint_auth_method: 'none',
      redirect_uris: ['http://127.0.0.1/'], grant_types: ['authorization_code', 'refresh_token'],
      response_types: ['code'],
    },
    // The SMTP server, which asks whether a token is good.
    { client_id: 'smtp-server', client_secret: 'smtp-server-secret', grant_types: [], response_types: [],
      redirect_uris: [] },
  ],
  scopes: ['openid', 'offline_access'],
  pkce: { required: () => true },
  features: {
    devInteractions: { enabled: true },
    introspection: { enabled: true, allowedPolicy: async () => true },
    revocation: { enabled: true },
    resourceIndicators: {
      enabled: true,
      defaultResource: () => 'urn:kt:smtp',
      useGrantedResource: () => true,
      getResourceServerInfo: () => ({ scope: 'smtp.send', audience: 'urn:kt:smtp', accessTokenFormat: 'opaque' }),
    },
  },
  issueRefreshToken: async () => true,
  rotateRefreshToken: true,
  ttl: { AccessToken: Number(accessSeconds), RefreshToken: 3600, AuthorizationCode: 60, Grant: 3600,
         Interaction: 600, Session: 3600 },
  findAccount: async (ctx, id) => ({ accountId: id, claims: async () => ({ sub: id }) }),
});

const sleep = (ms) => new Promise((done) => setTimeout(done, ms));
const log = (line) => fs.appendFileSync(path.join(stateDir, 'log'), `${line}\n`);
// The form of a token request, read ahead of the library, which then takes it as read.
const readForm = async (req) => {
  const chunks = [];
  for await (const chunk of req) chunks.push(chunk);
  req.body = Buffer.concat(chunks).toString();
  return new URLSearchParams(req.body);
};
const mode = () => { try { return fs.readFileSync(path.join(stateDir, 'mode'), 'utf8').trim(); } catch { return ''; } };

provider.use(async (ctx, next) => {
  if (ctx.path === '/test/revoke' && ctx.method === 'POST') {
    for (const key of [...stored.keys()]) if (key.startsWith(`${ctx.query.kind}:`)) stored.delete(key);
    ctx.status = 204;
    return;
  }
  if (ctx.path === '/token' && ctx.method === 'POST') {
    if (mode() === 'slow') {
      // Longer than any client waits: answered late, and not logged among the requests served.
      await sleep(5000);
      ctx.status = 503;
      return;
    }
    if (mode() === 'unavailable') {
      ctx.status = 503;
      ctx.body = { error: 'temporarily_unavailable', error_description: 'try again later' };
      return;
    }
    if (mode() === 'garbage') {
      ctx.type = 'text/html';
      ctx.body = '<html><body>Service unavailable</body></html>';
      return;
    }
    const grantType = (await readForm(ctx.req)).get('grant_type');
    if (mode() === 'scope-refused' && grantType === 'refresh_token') {
      ctx.status = 400;
      ctx.body = { error: 'invalid_scope', error_description: 'no scope is granted again' };
      log(`${grantType} 400 invalid_scope`);
      return;
    }
    await next();
    log(`${grantType} ${ctx.status} ${ctx.body?.error ?? ''} ${ctx.body?.error_description ?? ''}`);
    return;
  }
  await next();
});

https.createServer({ cert: fs.readFileSync(certFile), key: fs.readFileSync(keyFile) }, provider.callback())
  .listen(Number(port), '127.0.0.1', () => fs.writeFileSync(path.join(stateDir, 'ready'), `${port}\n`));
