-- The example site: three tables and a handful of pages.
--
-- web_tag is read with "select *": the tag name must be its first column and
-- the tag code its fourth. FunID NULL marks a tag that applies to every page;
-- any other FunID applies to the pages attached to that function in
-- web_page2func.

CREATE TABLE web_templet (
  page_id   INTEGER NOT NULL,
  tset_id   INTEGER NOT NULL,
  tmpl_file TEXT
);

CREATE TABLE web_page2func (
  page_id INTEGER NOT NULL,
  FunID   INTEGER NOT NULL
);

CREATE TABLE web_tag (
  tag_name TEXT NOT NULL,
  FunID    INTEGER,
  tag_note TEXT,
  tag_code TEXT NOT NULL
);

-- Template set 1: the site as it is; set 2: a plain variant of the home page.
INSERT INTO web_templet VALUES (1, 1, 'index.html');
INSERT INTO web_templet VALUES (2, 1, 'news\list.html');
INSERT INTO web_templet VALUES (3, 1, 'product.html');
INSERT INTO web_templet VALUES (4, 1, 'cn/about.html');
INSERT INTO web_templet VALUES (1, 2, 'plain.html');

-- Function 1 is the news list, function 2 the shop.
INSERT INTO web_page2func VALUES (1, 1);
INSERT INTO web_page2func VALUES (2, 1);
INSERT INTO web_page2func VALUES (3, 2);
INSERT INTO web_page2func VALUES (4, 1);
INSERT INTO web_page2func VALUES (4, 2);

-- Tags of every page.
INSERT INTO web_tag VALUES ('title', NULL, 'page title',
  'Response.Write Server.HTMLEncode(PageTitle)');
INSERT INTO web_tag VALUES ('box', NULL, 'a framed box around its content',
  'BoxStart w, h' || char(13, 10) || '[data]' || char(13, 10) || 'BoxEnd');
INSERT INTO web_tag VALUES ('footer', NULL, 'copyright line',
  'Response.Write "&copy; " & Year(Now()) & " Vantrel"');

-- Tags of the news list.
INSERT INTO web_tag VALUES ('newslist', 1, 'one item per news row',
  'Set rs = Conn.Execute("select title, url, summary from news order by posted desc")' || char(13, 10) ||
  'Do While Not rs.EOF' || char(13, 10) || '[data]' || char(13, 10) ||
  'rs.MoveNext' || char(13, 10) || 'Loop' || char(13, 10) || 'rs.Close');
INSERT INTO web_tag VALUES ('field', 1, 'a column of the current news row',
  'Response.Write Server.HTMLEncode(rs(name))');

-- Tags of the shop.
INSERT INTO web_tag VALUES ('price', 2, 'the price of the current product',
  'Response.Write FormatCurrency(Product("price"))');
INSERT INTO web_tag VALUES ('buy', 2, 'an order button',
  'Response.Write "<form method=""post"" action=""/cart"">"' || char(13, 10) ||
  '[data]' || char(13, 10) || 'Response.Write "</form>"');
