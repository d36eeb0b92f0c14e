-- Norvix demo: a small Italian customer and order book.
-- Run by the program at its first start (norvix with no arguments) into a fresh SQLite file.
-- Every generated row comes from a recursive CTE, so the content is the same on every build.

CREATE TABLE PROVINCE (
    SIGLA VARCHAR(2) PRIMARY KEY,
    NOME  VARCHAR(40) NOT NULL
);

CREATE TABLE COMUNI (
    PROV   VARCHAR(2) NOT NULL REFERENCES PROVINCE (SIGLA),
    CODICE VARCHAR(4) NOT NULL,
    NOME   VARCHAR(40) NOT NULL,
    PRIMARY KEY (PROV, CODICE)
);

CREATE TABLE CATEGORIE (
    CODICE      VARCHAR(4) PRIMARY KEY,
    DESCRIZIONE VARCHAR(40) NOT NULL
);

CREATE TABLE PAGAMENTI (
    CODICE      VARCHAR(4) PRIMARY KEY,
    DESCRIZIONE VARCHAR(40) NOT NULL,
    GIORNI      INTEGER
);

CREATE TABLE CLIENTI (
    CODICE     INTEGER PRIMARY KEY,
    NOME       VARCHAR(40) NOT NULL,
    PIVA       VARCHAR(11),
    CODFISC    VARCHAR(16),
    INDIRIZZO  VARCHAR(50),
    CAP        VARCHAR(5),
    PROV       VARCHAR(2),
    COMUNE     VARCHAR(4),
    TELEFONO   VARCHAR(20),
    EMAIL      VARCHAR(60),
    DATAINIZIO DATE,
    ATTIVO     BOOLEAN,
    PAGAMENTO  VARCHAR(4),
    FIDO       NUMERIC(14,4),
    SCONTO     DOUBLE PRECISION,
    LOGO       VARCHAR(200),
    NOTE       TEXT,
    ORIGINE    VARCHAR(10),
    ULTMOD     DATETIME
);

CREATE TABLE ARTICOLI (
    CODICE      VARCHAR(8) PRIMARY KEY,
    DESCRIZIONE VARCHAR(50) NOT NULL,
    CATEGORIA   VARCHAR(4),
    UM          VARCHAR(3),
    PREZZO      NUMERIC(14,4),
    IVA         INTEGER,
    SCORTA      INTEGER,
    ATTIVO      BOOLEAN,
    IMMAGINE    VARCHAR(200),
    NOTE        TEXT,
    ULTMOD      DATETIME
);

CREATE TABLE ORDINI (
    ANNO      INTEGER NOT NULL,
    NUMERO    INTEGER NOT NULL,
    DATA      DATE,
    CLIENTE   INTEGER,
    EVASO     BOOLEAN,
    NOTE      TEXT,
    ULTMOD    DATETIME,
    PRIMARY KEY (ANNO, NUMERO)
);
CREATE INDEX ORDINI_CLIENTE ON ORDINI (CLIENTE);

-- The lines of an order: the key's first two columns find them.
CREATE TABLE RIGHE (
    ANNO     INTEGER NOT NULL,
    NUMERO   INTEGER NOT NULL,
    RIGA     INTEGER NOT NULL,
    ARTICOLO VARCHAR(8),
    QUANTITA DOUBLE PRECISION,
    PREZZO   NUMERIC(14,4),
    SCONTO   DOUBLE PRECISION,
    PRIMARY KEY (ANNO, NUMERO, RIGA),
    FOREIGN KEY (ANNO, NUMERO) REFERENCES ORDINI (ANNO, NUMERO)
);

INSERT INTO PROVINCE (SIGLA, NOME) VALUES
    ('AN', 'Ancona'), ('BA', 'Bari'), ('BG', 'Bergamo'), ('BO', 'Bologna'), ('BS', 'Brescia'),
    ('CA', 'Cagliari'), ('CT', 'Catania'), ('FI', 'Firenze'), ('GE', 'Genova'), ('MI', 'Milano'),
    ('NA', 'Napoli'), ('PA', 'Palermo'), ('PD', 'Padova'), ('PG', 'Perugia'), ('PR', 'Parma'),
    ('RM', 'Roma'), ('TN', 'Trento'), ('TO', 'Torino'), ('VE', 'Venezia'), ('VR', 'Verona');

INSERT INTO CATEGORIE (CODICE, DESCRIZIONE) VALUES
    ('FERR', 'Ferramenta'), ('ELET', 'Materiale elettrico'), ('IDRA', 'Idraulica'),
    ('VERN', 'Vernici e colori'), ('UTEN', 'Utensili'), ('GIAR', 'Giardinaggio');

INSERT INTO PAGAMENTI (CODICE, DESCRIZIONE, GIORNI) VALUES
    ('RD', 'Rimessa diretta', 0), ('BB30', 'Bonifico 30 gg d.f.', 30), ('BB60', 'Bonifico 60 gg d.f.', 60),
    ('RB30', 'Ri.Ba. 30 gg f.m.', 30), ('RB60', 'Ri.Ba. 60/90 gg f.m.', 60), ('CONT', 'Contanti alla consegna', 0);

-- Fifteen towns per province: the main town (code 0001) and fourteen made-up neighbours.
INSERT INTO COMUNI (PROV, CODICE, NOME)
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 15),
prefissi(i, p) AS (VALUES (2, 'Borgo'), (3, 'Castel'), (4, 'Monte'), (5, 'Villa'), (6, 'San Martino di'),
                          (7, 'Ponte'), (8, 'Torre'), (9, 'Colle'), (10, 'Santa Maria di'), (11, 'Rocca'),
                          (12, 'Pieve di'), (13, 'Bagni di'), (14, 'Marina di'), (15, 'Porto'))
SELECT p.SIGLA, printf('%04d', n.i), CASE WHEN n.i = 1 THEN p.NOME ELSE x.p || ' ' || p.NOME END
FROM PROVINCE p CROSS JOIN n LEFT JOIN prefissi x ON x.i = n.i;

-- 3000 customers with names, VAT numbers, addresses and terms derived from their number.
INSERT INTO CLIENTI (CODICE, NOME, PIVA, CODFISC, INDIRIZZO, CAP, PROV, COMUNE, TELEFONO, EMAIL, DATAINIZIO, ATTIVO,
                     PAGAMENTO, FIDO, SCONTO, LOGO, NOTE, ORIGINE, ULTMOD)
WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < 3000),
vie(k, v) AS (VALUES (0, 'Via Roma'), (1, 'Via Garibaldi'), (2, 'Corso Italia'), (3, 'Via Mazzini'), (4, 'Piazza Duomo'),
                     (5, 'Via Verdi'), (6, 'Viale Europa'), (7, 'Via Dante'), (8, 'Via Cavour'), (9, 'Via XX Settembre')),
forme(k, f) AS (VALUES (0, 'Srl'), (1, 'S.p.A.'), (2, 'Snc'), (3, 'Sas'), (4, '& C.')),
prov(k, sigla) AS (SELECT row_number() OVER (ORDER BY SIGLA) - 1, SIGLA FROM PROVINCE),
pag(k, codice) AS (SELECT row_number() OVER (ORDER BY CODICE) - 1, CODICE FROM PAGAMENTI)
SELECT c.i,
       printf('Cliente %04d %s', c.i, forme.f),
       printf('%011d', (c.i * 7919 + 1000003) % 100000000000),
       CASE WHEN c.i % 5 = 4 THEN printf('CLNT%02dA%02dH%03dX', c.i % 100, 1 + c.i % 28, c.i % 1000) END,
       printf('%s %d', vie.v, 1 + (c.i * 13) % 180),
       printf('%05d', 10000 + (c.i * 37) % 89000),
       prov.sigla,
       printf('%04d', 1 + (c.i * 7) % 15),
       printf('0%d %07d', 2 + c.i % 9, (c.i * 104729) % 10000000),
       printf('info@cliente%04d.it', c.i),
       date('2005-01-01', printf('+%d days', (c.i * 53) % 7000)),
       CASE WHEN c.i % 11 = 0 THEN FALSE ELSE TRUE END,
       pag.codice,
       ((c.i * 97) % 200) * 250,
       CASE c.i % 4 WHEN 0 THEN 0 WHEN 1 THEN 2.5 WHEN 2 THEN 5 ELSE 10 END,
       CASE WHEN c.i % 25 = 0 THEN printf('/srv/loghi/cliente%04d.png', c.i) END,
       CASE WHEN c.i % 9 = 0 THEN 'Cliente storico: consegna solo al mattino.' END,
       CASE WHEN c.i % 3 = 0 THEN 'WEB' ELSE 'AGENTE' END,
       datetime('2024-01-01 08:00:00', printf('+%d minutes', c.i * 131))
FROM c
JOIN vie ON vie.k = c.i % 10
JOIN forme ON forme.k = c.i % 5
JOIN prov ON prov.k = c.i % 20
JOIN pag ON pag.k = c.i % 6;

-- 240 articles, forty per category.
INSERT INTO ARTICOLI (CODICE, DESCRIZIONE, CATEGORIA, UM, PREZZO, IVA, SCORTA, ATTIVO, IMMAGINE, NOTE, ULTMOD)
WITH RECURSIVE a(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM a WHERE i < 240),
cat(k, codice, nome) AS (SELECT row_number() OVER (ORDER BY CODICE) - 1, CODICE, DESCRIZIONE FROM CATEGORIE),
tipi(k, t, um) AS (VALUES (0, 'Confezione', 'CF'), (1, 'Rotolo', 'RT'), (2, 'Kit', 'PZ'), (3, 'Barattolo', 'PZ'),
                          (4, 'Set', 'PZ'), (5, 'Sacco', 'KG'), (6, 'Scatola', 'CF'), (7, 'Metro', 'MT'))
SELECT printf('ART%04d', a.i),
       printf('%s %s n. %d', tipi.t, lower(cat.nome), 1 + a.i / 6),
       cat.codice,
       tipi.um,
       round(1.5 + (a.i * 37 % 400) * 0.75, 2),
       CASE WHEN a.i % 10 = 0 THEN 10 ELSE 22 END,
       (a.i * 17) % 500,
       CASE WHEN a.i % 13 = 0 THEN FALSE ELSE TRUE END,
       CASE WHEN a.i % 4 = 0 THEN printf('/srv/immagini/art%04d.jpg', a.i) END,
       CASE WHEN a.i % 7 = 0 THEN 'Disponibile su ordinazione.' END,
       datetime('2024-03-01 09:00:00', printf('+%d hours', a.i * 5))
FROM a
JOIN cat ON cat.k = a.i % 6
JOIN tipi ON tipi.k = a.i % 8;

-- 5000 orders over 2022-2024, numbered from 1 within each year.
INSERT INTO ORDINI (ANNO, NUMERO, DATA, CLIENTE, EVASO, NOTE, ULTMOD)
WITH RECURSIVE o(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM o WHERE i < 4999),
d(i, giorno) AS (SELECT i, date('2022-01-03', printf('+%d days', i * 1092 / 5000)) FROM o)
SELECT CAST(strftime('%Y', d.giorno) AS INTEGER),
       row_number() OVER (PARTITION BY strftime('%Y', d.giorno) ORDER BY d.i),
       d.giorno,
       1 + (d.i * 577) % 3000,
       CASE WHEN d.giorno < '2024-10-01' THEN TRUE ELSE FALSE END,
       CASE WHEN d.i % 17 = 0 THEN 'Consegna urgente' END,
       datetime(d.giorno, '+10 hours')
FROM d;

-- One to five lines per order (order i, in key order, from 0), each a different article at its
-- list price; some with a discount.
INSERT INTO RIGHE (ANNO, NUMERO, RIGA, ARTICOLO, QUANTITA, PREZZO, SCONTO)
WITH o(i, anno, numero) AS (SELECT row_number() OVER (ORDER BY ANNO, NUMERO) - 1, ANNO, NUMERO FROM ORDINI),
r(n) AS (VALUES (1), (2), (3), (4), (5)),
x(i, anno, numero, riga, articolo) AS (
    SELECT o.i, o.anno, o.numero, r.n, printf('ART%04d', 1 + (o.i * 31 + (r.n - 1) * 53) % 240)
    FROM o JOIN r ON r.n <= 1 + (o.i * 3) % 5)
SELECT x.anno, x.numero, x.riga, x.articolo,
       1 + (x.i * 7 + (x.riga - 1) * 11) % 24,
       a.PREZZO,
       CASE (x.i + x.riga) % 6 WHEN 0 THEN 5 WHEN 3 THEN 10 ELSE 0 END
FROM x JOIN ARTICOLI a ON a.CODICE = x.articolo
ORDER BY x.anno, x.numero, x.riga;
