// The ledger's schema on the server: made, upgraded, and checked part by part before first use.

#include "db/server/PgSession.h"

#include "db/ProductsFile.h"
#include "db/server/ServerConnection.h"
#include "db/server/ServerSchema.h"

#include <QCryptographicHash>
#include <QMap>

using namespace pg;

namespace {

const char* const kLedgerTables = "ARRAY['users', 'records', 'day_sums', 'day_product_sums', "
                                  "'month_product_sums', 'year_product_sums', 'product_names', 'saves', "
                                  "'pending_lines', 'changes', 'kivaro_lock_key', 'kivaro_parts', "
                                  "'kivaro_ledger_id', 'catalogue']";

QByteArray md5Hex(const QString& text)
{
    return QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex();
}

} // namespace

// The ledger as the program made it: its tables are tables, its trigger functions have the program's bodies, the
// triggers on its tables are the program's and call them, and no rule rewrites a table. A function emptied, or a
// trigger or rule added, would change every later sale in silence; a missing part would save lines no view shows.
void ServerStore::checkLedgerParts(Session& session, const QString& server)
{
    const auto incomplete = [&server]() {
        return KivaroError(QStringLiteral("数据库服务器“%1”上的账本不完整（缺少表或触发器），不能使用；"
                                          "请从备份恢复，或复制到一个新的数据库。")
                               .arg(server));
    };
    const auto changed = [&server](const QString& what) {
        return KivaroError(QStringLiteral("数据库服务器“%1”上的账本被改动过（%2），不能使用；"
                                          "请从备份恢复，或复制到一个新的数据库。")
                               .arg(server, what));
    };
    const QString ledgerTables = QLatin1String(kLedgerTables);
    const Result tables = session.exec(
        QStringLiteral("SELECT t, c.relkind FROM unnest(%1) AS t LEFT JOIN pg_class c ON c.oid = to_regclass(t)")
            .arg(ledgerTables));
    for (int row = 0; row < tables.rows(); ++row) {
        if (tables.isNull(row, 1))
            throw incomplete();
        if (tables.bytes(row, 1) != "r")
            throw changed(QStringLiteral("“%1”不是表").arg(tables.text(row, 0)));
    }
    QMap<QString, ServerSchema::Function> expected;
    QStringList names;
    for (const ServerSchema::Function& function : ServerSchema::functions()) {
        expected.insert(function.name, function);
        names.append(QLatin1Char('\'') + function.name + QLatin1Char('\''));
    }
    // Besides the body: its language, run as its owner (who owns the tables) with the program's search path and no
    // other setting (a search_path of another's would send the summaries into another schema's tables).
    const Result functions = session.exec(QStringLiteral(
        "SELECT p.proname, l.lanname, CASE WHEN p.prosecdef AND p.proowner = (SELECT relowner FROM pg_class "
        "WHERE oid = to_regclass('records')) AND p.proconfig = ARRAY['search_path=pg_catalog, ' || "
        "quote_ident(current_schema()) || ', pg_temp'] THEN md5(p.prosrc) END FROM pg_proc p "
        "JOIN pg_language l ON l.oid = p.prolang "
        "WHERE p.pronamespace = (SELECT oid FROM pg_namespace WHERE nspname = current_schema()) AND p.proname IN "
        "(%1)")
                                              .arg(names.join(QLatin1Char(','))));
    if (functions.rows() != expected.size())
        throw incomplete();
    for (int row = 0; row < functions.rows(); ++row) {
        const ServerSchema::Function& function = expected[functions.text(row, 0)];
        if (functions.isNull(row, 2) || functions.text(row, 1) != function.language
            || functions.bytes(row, 2) != md5Hex(function.body))
            throw changed(QStringLiteral("函数“%1”不是本程序写下的").arg(function.name));
    }
    // Every table keeps its rows to their accounts, the administrator's included, and only the program's policies
    // say who sees what.
    const Result unguarded = session.exec(
        QStringLiteral("SELECT t FROM unnest(%1 || ARRAY['kivaro_schema', 'ledger_generation', 'daily_backups']) AS t "
                       "JOIN pg_class c ON c.oid = to_regclass(t) "
                       "WHERE NOT (c.relrowsecurity AND c.relforcerowsecurity) ORDER BY 1")
            .arg(ledgerTables));
    if (unguarded.rows() > 0)
        throw changed(QStringLiteral("表“%1”没有行级安全").arg(unguarded.text(0, 0)));
    const Result policies
        = session.exec("SELECT c.relname, p.polname FROM pg_policy p JOIN pg_class c ON c.oid = p.polrelid "
                       "WHERE c.relnamespace = (SELECT oid FROM pg_namespace WHERE nspname = current_schema()) "
                       "AND (p.polname NOT IN ('kivaro_administrator', 'kivaro_read', 'kivaro_write') "
                       "OR NOT p.polpermissive OR cardinality(p.polroles) <> 1) ORDER BY 1, 2");
    if (policies.rows() > 0)
        throw changed(QStringLiteral("表“%1”上的策略“%2”不是本程序的").arg(policies.text(0, 0), policies.text(0, 1)));

    // Each trigger: its table, name, function (in the ledger's schema), kind (statement level; after an insert,
    // delete or update; before a truncate), its transition tables, no condition, and whether it runs in every
    // session (a replica trigger runs in none of the program's).
    struct Trigger
    {
        QString function;
        int type;
        QString transitions;
        QString table = QStringLiteral("records");
    };
    const QMap<QString, Trigger> triggers {
        { QStringLiteral("records_add_to_sums"),
            { QStringLiteral("records_add_to_sums"), 4, QStringLiteral("|added") } },
        { QStringLiteral("records_remove_from_sums"),
            { QStringLiteral("records_remove_from_sums"), 8, QStringLiteral("removed|") } },
        { QStringLiteral("records_move_in_sums"),
            { QStringLiteral("records_move_in_sums"), 16, QStringLiteral("removed|added") } },
        { QStringLiteral("records_no_truncate"),
            { QStringLiteral("records_refuse_truncate"), 34, QStringLiteral("|") } },
        { QStringLiteral("records_check_id"), { QStringLiteral("records_check_id"), 4, QStringLiteral("|added") } },
        { QStringLiteral("records_record_saves"),
            { QStringLiteral("records_record_saves"), 4, QStringLiteral("|added") } },
        { QStringLiteral("records_record_edits"), { QStringLiteral("records_record_edits"), 17, QStringLiteral("|") } },
        { QStringLiteral("records_record_deletes"),
            { QStringLiteral("records_record_deletes"), 9, QStringLiteral("|") } },
        { QStringLiteral("records_assign_id"), { QStringLiteral("records_assign_id"), 7, QStringLiteral("|") } },
        { QStringLiteral("pending_lines_assign_id"),
            { QStringLiteral("pending_lines_assign_id"), 7, QStringLiteral("|"), QStringLiteral("pending_lines") } },
    };
    const Result found = session.exec(
        QStringLiteral("SELECT c.relname, t.tgname, p.proname, t.tgtype, "
                       "p.pronamespace = (SELECT oid FROM pg_namespace WHERE nspname = current_schema()) "
                       "AND t.tgqual IS NULL AND t.tgattr = ''::int2vector, t.tgenabled IN ('O', 'A'), "
                       "coalesce(t.tgoldtable::text, '') || '|' || coalesce(t.tgnewtable::text, '') "
                       "FROM pg_trigger t JOIN pg_class c ON c.oid = t.tgrelid JOIN pg_proc p ON p.oid = t.tgfoid "
                       "WHERE NOT t.tgisinternal AND t.tgrelid IN (SELECT to_regclass(x) FROM unnest(%1) AS x)")
            .arg(ledgerTables));
    int running = 0;
    for (int row = 0; row < found.rows(); ++row) {
        const auto own = triggers.constFind(found.text(row, 1));
        if (own == triggers.cend() || found.text(row, 0) != own->table || own->function != found.text(row, 2)
            || found.integer(row, 3) != own->type || found.bytes(row, 4) != "t"
            || found.text(row, 6) != own->transitions)
            throw changed(
                QStringLiteral("表“%1”上的触发器“%2”不是本程序的").arg(found.text(row, 0), found.text(row, 1)));
        running += found.bytes(row, 5) == "t" ? 1 : 0;
    }
    if (running != triggers.size())
        throw incomplete();
    const Result rules = session.exec(
        QStringLiteral("SELECT c.relname, r.rulename FROM pg_rewrite r JOIN pg_class c ON c.oid = r.ev_class "
                       "WHERE r.ev_class IN (SELECT to_regclass(x) FROM unnest(%1) AS x)")
            .arg(ledgerTables));
    if (rules.rows() > 0)
        throw changed(QStringLiteral("表“%1”上有规则“%2”").arg(rules.text(0, 0), rules.text(0, 1)));
    // The policies' expressions and the grants as the program set them: compared by a function of the ledger's,
    // since only the administrator may read what they were.
    if (session.exec("SELECT kivaro_access_unchanged()").bytes(0, 0) != "t")
        throw changed(QStringLiteral("策略或授权被改过"));
}

ServerSchema::Access ServerStore::access(Session& session)
{
    const Result names = session.exec("SELECT current_database(), current_schema(), current_user");
    // The accounts' group is named after the database, apart from any role a database is commonly named after (its
    // owner's, say).
    return { names.text(0, 0), names.text(0, 1), names.text(0, 2), names.text(0, 0) + QStringLiteral("_accounts") };
}

bool ServerStore::isAdministrator(Session& session)
{
    return session
               .exec("SELECT pg_has_role(current_user, d.datdba, 'MEMBER') FROM pg_database d "
                     "WHERE d.datname = current_database()")
               .bytes(0, 0)
        == "t";
}

void ServerStore::makeGroup(Session& session, const ServerSchema::Access& access)
{
    const QString server = FLocation.displayName();
    if (access.group.toUtf8().size() > 63)
        throw KivaroError(
            QStringLiteral("数据库服务器“%1”上的数据库名“%2”太长，帐户组的名字放不下；请换一个短一些的数据库名。")
                .arg(server, access.database));
    // A role of that name made by someone else must not lend its rights to every account: only a plain group, member
    // of nothing, is taken as the accounts' group.
    const Result found = session.exec(
        "SELECT NOT (r.rolcanlogin OR r.rolsuper OR r.rolcreaterole OR r.rolcreatedb OR r.rolreplication "
        "OR r.rolbypassrls) AND NOT EXISTS (SELECT 1 FROM pg_auth_members m WHERE m.member = r.oid) "
        "AND NOT EXISTS (SELECT 1 FROM pg_database d WHERE d.datdba = r.oid) FROM pg_roles r WHERE r.rolname = $1",
        { textValue(access.group) });
    if (found.rows() > 0) {
        if (found.bytes(0, 0) != "t")
            throw KivaroError(QStringLiteral("数据库服务器“%1”上已有角色“%2”，它不是单纯的帐户组，不能让帐户加入；"
                                             "请换一个数据库名，或删去那个角色。")
                                  .arg(server, access.group));
        return;
    }
    try {
        session.exec(QStringLiteral("CREATE ROLE %1 NOLOGIN").arg(quotedName(access.group)));
    } catch (const NotPermitted&) {
        throw KivaroError(QStringLiteral("数据库服务器“%1”：管理员“%2”不能建立角色（需要 CREATEROLE 权限）；"
                                         "请按说明建立管理员：createuser --createrole --pwprompt %2")
                              .arg(server, access.administrator));
    }
}

// A ledger made by an earlier version had one shared role and kept the password hashes itself. Its accounts become
// roles without a password (the administrator sets each with --set-password), its functions run as the administrator
// and every table gets row-level security.
void ServerStore::upgradeToAccounts(Session& session, qint64 found)
{
    if (found == 1) {
        for (const QString& statement : ServerSchema::historyStatements())
            session.exec(statement);
    }
    const ServerSchema::Access names = access(session);
    for (const QString& statement : ServerSchema::generationStatements())
        session.exec(statement);
    for (const QString& statement : ServerSchema::textLimitStatements())
        session.exec(statement);
    session.exec("ALTER TABLE users ADD COLUMN shop_owner boolean NOT NULL DEFAULT false, "
                 "ADD COLUMN needs_password boolean NOT NULL DEFAULT false, DROP COLUMN password_hash");
    makeGroup(session, names);
    const Result users = session.exec("SELECT user_name FROM users ORDER BY id");
    for (int row = 0; row < users.rows(); ++row) {
        const bool needsPassword = admitRole(session, names, users.text(row, 0), QString());
        session.exec("UPDATE users SET needs_password = $2 WHERE user_name = $1",
            { textValue(users.text(row, 0)), needsPassword ? "t" : "f" });
    }
}

// Version 4 kept the whole shop's sums in the users' tables under the user '', which goes.
void ServerStore::upgradeToShopSums(Session& session, const QString& server)
{
    // A till of the earlier version saving now would add lines the sums below would not count: writers wait until
    // the new triggers are in.
    session.exec("LOCK TABLE records IN SHARE ROW EXCLUSIVE MODE");
    // No account can have the empty name; such lines came from a copy of a file before that was refused, and their
    // sums would be mixed with the shop's of version 4.
    const qint64 nameless = session.exec("SELECT count(*) FROM records WHERE user_name = ''").integer(0, 0);
    if (nameless > 0)
        throw KivaroError(QStringLiteral("数据库服务器“%1”上的账本有 %2 条记录没有用户名，无法升级；请管理员用 psql "
                                         "给这些记录写上用户名（UPDATE records SET user_name = … WHERE user_name = "
                                         "''），或删去它们，再连接一次。")
                              .arg(server)
                              .arg(nameless));
    session.exec("DELETE FROM day_product_sums WHERE user_name = ''");
    session.exec("DELETE FROM day_sums WHERE user_name = ''");
}

// Versions 5 and 6 kept the whole shop's sums in tables of their own, which every save took turns on; version 7 adds
// the accounts' sums up when the shop is read, and lists a user's lines from the index alone.
void ServerStore::upgradeToSharedNothing(Session& session)
{
    session.exec("DROP TABLE IF EXISTS shop_day_sums, shop_day_product_sums");
    session.exec(ServerSchema::productKeyStatement());
    session.exec("DROP INDEX IF EXISTS records_by_user_day");
    session.exec(ServerSchema::userLinesIndexStatement());
    for (const QString& statement : ServerSchema::shopIndexStatements())
        session.exec(statement);
}

// Version 8 keeps the sums of each month and year and product, which a ranking of whole months and years reads.
void ServerStore::upgradeToMonths(Session& session)
{
    // A till of the earlier version saving now would add lines the months filled below would not count: writers
    // wait until the new triggers are in.
    session.exec("LOCK TABLE records IN SHARE ROW EXCLUSIVE MODE");
    for (const QString& statement : ServerSchema::periodStatements())
        session.exec(statement);
    session.exec("DELETE FROM month_product_sums");
    session.exec("DELETE FROM year_product_sums");
    for (const QString& statement : ServerSchema::fillPeriodStatements())
        session.exec(statement);
}

void ServerStore::prepareSchema(Session& session)
{
    const QString server = FLocation.displayName();
    // Two computers that meet an empty database at once create the tables once; an upgrade holds the version's
    // table, which an account cannot lock against it. An account that opens a ledger as it is takes no lock at all.
    // The look is read from the catalogue's tables, outside the transaction: a name looked up before the wait would
    // be remembered as missing after it.
    const bool ledgerThere
        = session
              .exec("SELECT EXISTS (SELECT 1 FROM pg_catalog.pg_class c JOIN pg_catalog.pg_namespace n ON n.oid = "
                    "c.relnamespace WHERE c.relname = 'kivaro_schema' AND n.nspname = current_schema())")
              .bytes(0, 0)
        == "t";
    session.begin();
    if (!ledgerThere)
        session.exec("SELECT pg_advisory_xact_lock(hashtext('kivaro-schema'))");
    const bool administrator = isAdministrator(session);
    if (ledgerThere && administrator
        && session.exec("SELECT max(version) FROM kivaro_schema").integer(0, 0) < kSchemaVersion)
        session.exec("LOCK TABLE kivaro_schema IN EXCLUSIVE MODE");
    const auto needsAdministrator = [&]() {
        return KivaroError(QStringLiteral("数据库服务器“%1”上的账本需要管理员（数据库“%2”的所有者）先连接一次，"
                                          "建立或升级账本；请用连接设置中的管理员连接。")
                               .arg(server, session.exec("SELECT current_database()").text(0, 0)));
    };
    if (session.exec("SELECT to_regclass('kivaro_schema') IS NOT NULL").bytes(0, 0) == "t") {
        const Result version = session.exec("SELECT max(version) FROM kivaro_schema");
        const qint64 found = version.isNull(0, 0) ? 0 : version.integer(0, 0);
        if (found > kSchemaVersion)
            throw KivaroError(QStringLiteral("数据库服务器“%1”上的账本由更新版本的 Kivaro 建立（版本 %2），"
                                             "请先升级本程序。")
                                  .arg(server)
                                  .arg(found));
        if (found < 1)
            throw KivaroError(QStringLiteral("数据库服务器“%1”上的账本不完整（没有版本记录）。").arg(server));
        if (found < kSchemaVersion) {
            if (!administrator)
                throw needsAdministrator();
            if (found < 3)
                upgradeToAccounts(session, found);
            if (found < 5)
                upgradeToShopSums(session, server);
            if (found < 6) {
                for (const QString& statement : ServerSchema::dayLimitStatements() + ServerSchema::lockKeyStatements())
                    session.exec(statement);
            }
            if (found < 7)
                upgradeToSharedNothing(session);
            if (found < 8)
                upgradeToMonths(session);
            if (found < 9) {
                for (const QString& statement : ServerSchema::catalogueStatements())
                    session.exec(statement);
            }
            // The earlier functions, triggers, policies and grants are replaced by the program's own, whatever an
            // earlier upgrade left (a policy goes with a function it calls).
            const ServerSchema::Access names = access(session);
            for (const ServerSchema::Function& function : ServerSchema::functions())
                session.exec(QStringLiteral("DROP FUNCTION IF EXISTS %1 CASCADE").arg(function.name));
            for (const QString& statement : ServerSchema::functionStatements(names.schema))
                session.exec(statement);
            for (const QString& statement : ServerSchema::accessStatements(names))
                session.exec(statement);
            session.exec(QStringLiteral("UPDATE kivaro_schema SET version = %1").arg(kSchemaVersion));
        }
        checkLedgerParts(session, server);
    } else {
        // The server's own databases are not for a shop's ledger; a connection that names none lands there.
        const QString database = session.exec("SELECT current_database()").text(0, 0);
        if (database == QLatin1String("postgres") || database.startsWith(QLatin1String("template")))
            throw KivaroError(QStringLiteral("数据库服务器“%1”上的“%2”是服务器自己的数据库，不能放账本；"
                                             "请为 Kivaro 新建一个数据库，并在连接中写明（例如 …/ledger）。")
                                  .arg(server, database));
        // A ledger in another schema than the connection's is that ledger, not an empty database: a second one
        // beside it would split the shop's sales in two.
        const Result elsewhere = session.exec(
            "SELECT n.nspname, current_schema() FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
            "WHERE c.relname = 'kivaro_schema' AND c.relkind = 'r' ORDER BY 1 LIMIT 1");
        if (elsewhere.rows() > 0)
            throw KivaroError(QStringLiteral("数据库服务器“%1”上的账本在模式“%2”中，连接使用的却是模式“%3”；"
                                             "请检查连接设置中的 search_path。")
                                  .arg(server, elsewhere.text(0, 0), elsewhere.text(0, 1)));
        if (session
                .exec("SELECT 1 FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
                      "WHERE n.nspname NOT IN ('pg_catalog', 'information_schema') "
                      "AND n.nspname NOT LIKE 'pg\\_%' LIMIT 1")
                .rows()
            > 0)
            throw KivaroError(QStringLiteral("数据库服务器“%1”上的数据库不是空的，也不是 Kivaro 的账本；"
                                             "请为 Kivaro 新建一个空的数据库。")
                                  .arg(server));
        if (!administrator)
            throw needsAdministrator();
        const ServerSchema::Access names = access(session);
        makeGroup(session, names);
        for (const QString& statement : ServerSchema::createStatements(kSchemaVersion, names))
            session.exec(statement);
    }
    // Which ledger this is: a restore counts it up, and every computer notices at its next write or 查看.
    if (FGeneration < 0)
        FGeneration = session.exec("SELECT generation FROM ledger_generation").integer(0, 0);
    session.commit();
    FSchemaReady = true;
}
